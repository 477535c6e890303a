// Reading the page facts from the information page's META lines. The reader does not parse HTML:
// it works on lines with fixed markers, fixed offsets and a window of 255 characters.
#include "mxWebUpdate.h"

#include "Text.h"

namespace {

constexpr std::size_t kWindow = 255;

// The text from `start` up to the first double quote within the window; empty when the window
// (or the line, whichever ends first) holds no double quote.
std::u16string QuotedFrom(const std::u16string& line, std::size_t start) {
  if (start >= line.size()) return {};
  const std::u16string_view window = std::u16string_view(line).substr(start, kWindow);
  const std::size_t quote = window.find(u'"');
  return quote == std::u16string_view::npos ? std::u16string() : std::u16string(window.substr(0, quote));
}

}  // namespace

std::u16string ExtractContent(const std::u16string& Line) {
  std::u16string upper(Line);
  for (char16_t& c : upper) c = korvanta::platform::AsciiUpper(c);
  const std::size_t marker = upper.find(u"CONTENT=");
  if (marker == std::u16string::npos) return {};
  // Skip the marker's eight characters and the opening quote after it.
  return QuotedFrom(Line, marker + 9);
}

std::vector<std::u16string> SplitLines(std::u16string_view Text) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < Text.size()) {
    const char16_t c = Text[i];
    if (c == u'\r' || c == u'\n') {
      lines.emplace_back(Text.substr(start, i - start));
      i += (c == u'\r' && i + 1 < Text.size() && Text[i + 1] == u'\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < Text.size()) lines.emplace_back(Text.substr(start));
  return lines;
}

void TmxWebUpdate::ParseInfo() {
  FRedirectionURL.clear();
  FProductVersion.clear();
  FUpdateURL.clear();
  FClientFileName.clear();
  FAuthor.clear();
  FEMail.clear();
  FProductName.clear();
  FRunParameters.clear();
  FSignature.clear();

  // Tested in this order; every setting equal to the tag name fills its fact.
  const std::pair<const std::u16string*, std::u16string*> facts[] = {
      {&FTagInfo->ProductName(), &FProductName},     {&FTagInfo->ClientFileName(), &FClientFileName},
      {&FTagInfo->Version(), &FProductVersion},       {&FTagInfo->Author(), &FAuthor},
      {&FTagInfo->Email(), &FEMail},                  {&FTagInfo->Download(), &FUpdateURL},
      {&FTagInfo->Redirection(), &FRedirectionURL},   {&FTagInfo->RunParameters(), &FRunParameters},
      {&FTagInfo->Signature(), &FSignature},
  };

  const std::size_t count = FInfo->size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::u16string& line = (*FInfo)[i];
    const std::size_t marker = line.find(u"META NAME");
    if (marker == std::u16string::npos) continue;
    // Skip the marker's nine characters, the equals sign and the opening quote.
    const std::u16string name = QuotedFrom(line, marker + 11);
    for (const auto& [setting, fact] : facts)
      if (*setting == name) *fact = ExtractContent(line);
  }
}

void TmxWebUpdate::ReadInfoPage(std::string_view PageBytes) {
  *FInfo = SplitLines(korvanta::platform::DecodeAnsi(PageBytes));
  ParseInfo();
}
