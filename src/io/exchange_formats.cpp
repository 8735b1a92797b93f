#include "io/exchange_formats.h"

#include "image/image_file.h"
#include "io/avi_reader.h"
#include "io/dxf_import.h"

namespace zentrope {

void RegisterExchangeFormats() {
  SetMovieFrameDecoder(&DecodeAviFrame);
  RegisterDxfImport();
}

}  // namespace zentrope
