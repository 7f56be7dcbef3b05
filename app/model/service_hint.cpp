#include "app/model/service_hint.h"

#include "common/service_client.h"
#include "common/utf16.h"

namespace kuv {

ServiceUnreachableText UnreachableServiceText(Language language) {
  ServiceUnreachableText text{std::u16string(String(115, language)),
                              std::u16string(String(4121, language))};
  const std::u16string::size_type at = text.detail.find(u"%s");
  if (at != std::u16string::npos) text.detail.replace(at, 2, Utf8ToUtf16(ServiceSocketPath()));
  return text;
}

}  // namespace kuv
