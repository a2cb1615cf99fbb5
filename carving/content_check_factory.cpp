#include "carving/content_check_factory.h"

#include <memory>

#include "carving/carve_context.h"
#include "carving/signature_table.h"

namespace dunmere {

ContentCheck MakeSignatureContentCheck() {
  auto ctx = std::make_shared<CarveContext>();
  return [ctx](const ContentSample& s) {
    return MatchesSignature(*ctx, s.firstBytes, s.extension, s.source, s.sectorSize, s.absoluteSector);
  };
}

}  // namespace dunmere
