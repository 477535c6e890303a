// The information page's tag reader on arbitrary page bytes: the bytes are widened as the
// transfer widens them, cut into lines and read with the main window's tag names.
#include "FuzzCheck.h"
#include "Internals.h"
#include "Text.h"
#include "mxWebUpdate.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

constexpr std::size_t kWindow = 255;

// A fact read from a line is a piece of that line: shorter than the window, without a double quote.
bool IsPieceOf(const std::u16string& value, const std::u16string& line) {
  return value.size() < kWindow && value.find(u'"') == std::u16string::npos &&
         (value.empty() || line.find(value) != std::u16string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using I = TmxWebUpdateInternals;
  const std::u16string text =
      korvanta::platform::DecodeAnsi(std::string_view(reinterpret_cast<const char*>(data), size));

  TmxWebUpdate c;
  c.TagInfo()->setProductName(u"mxProductName");
  I::RedirectionURL(c) = u"left over from an earlier page";
  I::Info(c) = SplitLines(text);
  const std::vector<std::u16string> lines = I::Info(c);
  I::ParseInfo(c);
  FUZZ_CHECK(I::Info(c) == lines);  // the reader never changes the page

  // The last line naming a tag decides its fact; a page without that tag leaves it empty.
  const std::pair<std::u16string, const std::u16string*> facts[] = {
      {u"mxProductName", &c.ProductName()}, {u"mxClientSideName", &c.ClientFileName()},
      {u"mxVersion", &c.ProductVersion()},  {u"mxAuthor", &c.Author()},
      {u"mxEmail", &c.EMail()},             {u"mxDownload", &c.UpdateURL()},
      {u"mxRedirection", &c.RedirectionURL()}, {u"mxRunParameters", &c.RunParameters()},
  };
  for (const auto& [name, fact] : facts) {
    const std::u16string* last = nullptr;
    for (const std::u16string& line : lines) {
      const std::size_t marker = line.find(u"META NAME");
      if (marker == std::u16string::npos) continue;
      const std::u16string tagged = u"META NAME" + line.substr(marker + 9, 2) + name + u"\"";
      if (line.compare(marker, tagged.size(), tagged) == 0) last = &line;
    }
    if (!last) {
      FUZZ_CHECK(fact->empty());
    } else {
      FUZZ_CHECK(*fact == ExtractContent(*last));
      FUZZ_CHECK(IsPieceOf(*fact, *last));
    }
  }
  return 0;
}
