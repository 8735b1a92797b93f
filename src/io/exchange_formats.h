// Registers the exchange formats with the layers below: the picture loader
// reads frames of RIFF movies through the movie reader, and ImportModel
// takes DXF drawings. The program calls it at start-up; tests that need
// either call it themselves.
#pragma once

namespace zentrope {

void RegisterExchangeFormats();

}  // namespace zentrope
