// The render job a choreography starts from: its own range, size and
// output name with the session's render (or quick-render) look. The
// command line adjusts it with options; the direction window's Render and
// Quick Render run it as it is.
#pragma once

#include <string>

#include "io/render_driver.h"

namespace zentrope {

class Choreography;

// The job's look from the render set, or the quick-render set.
void LookFromSettings(RenderJob& job, bool quick);

// The direction window's job for the choreography read from document: its
// frames from..to by step, its output preset or size, its output name (the
// session's when it has none; ".tga" added when the name has no
// extension) and the format that name selects.
RenderJob DirectionRenderJob(const std::string& document, const Choreography& chor, bool quick);

}  // namespace zentrope
