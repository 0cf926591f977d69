// Page and manifest bytes as a web site sends them: the declaration readers must return addresses
// that parse, whatever the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "icons/IconDeclarations.h"
#include "text/Url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string base = "https://site.test/dir/page.html";
  for (const auto& url : quib::IconDeclarations::declaredIcons(text, base))
    if (!quib::Url::normalized(url)) std::abort();
  if (auto manifest = quib::IconDeclarations::manifestLink(text, base))
    if (!quib::Url::normalized(*manifest)) std::abort();
  for (const auto& url : quib::IconDeclarations::manifestIcons(text, base))
    if (!quib::Url::normalized(url)) std::abort();
  return 0;
}
