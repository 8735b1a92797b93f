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
build/release/bin/zentrope info examples/scene.cho
build/release/bin/zentrope eval examples/scene.cho --frame 20

# The main job: a picture. The checkered vase in the three shadings.
mkdir -p build/demo
for shading in flat gouraud phong; do
  build/release/bin/zentrope render examples/vase/vase.fig --shading "$shading" --size 640x480 \
    -o "build/demo/vase_$shading.png"
done
build/release/bin/zentrope render examples/vase/vase.fig --size 640x480 -o build/demo/vase.tga
# Raytraced: shadows and reflections, the refining anti-aliasing, with its
# depth and shadow pictures beside it.
build/release/bin/zentrope render examples/vase/vase.fig --mode raytrace --shadows --reflections \
  --aa high --size 640x480 -o build/demo/vase_raytraced.png
build/release/bin/zentrope render examples/vase/vase.fig --mode raytrace --shadows --alpha --depth \
  --shadow-picture --size 640x480 -o build/demo/vase_raytraced.tga
# Exchange: the posed vase as OBJ and binary glTF for other 3D programs.
build/release/bin/zentrope export examples/vase/vase.fig -o build/demo/vase.obj
build/release/bin/zentrope export examples/vase/vase.fig -o build/demo/vase.glb
echo "demo: pictures and exports in build/demo/"
