#!/usr/bin/env bash
# Sets up, builds the release configuration, and runs the main job on the
# built-in example.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTROPE_BUILD_TESTS=OFF \
  -DZENTROPE_BUILD_BENCH=OFF > /dev/null
cmake --build build/release --parallel 2 --target zentrope_cli

build/release/bin/zentrope --version
build/release/bin/zentrope info examples/box.seg
build/release/bin/zentrope info examples/demo/demo.cho

# The main job: the demo production's 30 frames through its camera, as PNG
# frames and a movie, and one frame raytraced with shadows.
rm -rf out/demo_*.png out/demo.avi
build/release/bin/zentrope render examples/demo/demo.cho --mode zbuffer -o 'out/demo_####.png'
build/release/bin/zentrope encode 'out/demo_####.png' -o out/demo.avi
build/release/bin/zentrope render examples/demo/demo.cho --mode raytrace --shadows --frames 15 \
  -o 'out/demo_raytraced_####.png'
# The frame window on a virtual screen: the demo from the Bird's Eye view.
xvfb-run -a -s "-screen 0 1280x1024x24" build/release/bin/zentrope --settings out/window.ini \
  view examples/demo/demo.cho --view birdseye --frame 15 --screenshot out/demo_window.png
echo "demo: frames in out/demo_0001.png ... out/demo_0030.png, the movie in out/demo.avi"
echo "      (zentrope play out/demo.avi), a raytraced frame in out/demo_raytraced_0015.png,"
echo "      the frame window in out/demo_window.png (on a desktop: zentrope view examples/demo/demo.cho)"
