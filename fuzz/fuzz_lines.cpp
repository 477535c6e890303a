// Line cutting with the Windows-1252 widening: arbitrary bytes, in arbitrary blocks as the
// transfer receives them, then the UTF-8 conversions at the file-system boundary.
#include "FuzzCheck.h"
#include "Text.h"
#include "mxWebUpdate.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace korvanta::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = DecodeAnsi(bytes);
  FUZZ_CHECK(text.size() == size);  // one character per byte, none lost

  // Block by block, as the transfer appends them, the text is the same; the first byte picks
  // the block size.
  const std::size_t block = size == 0 ? 1 : 1 + data[0] % 64;
  std::u16string appended;
  for (std::size_t at = 0; at < size; at += block)
    AppendAnsi(appended, data + at, std::min(block, size - at));
  FUZZ_CHECK(appended == text);
  for (std::size_t i = 0; i < size; ++i) {
    // ASCII and Latin-1's upper half stay themselves; nothing widens to a surrogate.
    if (data[i] < 0x80 || data[i] >= 0xA0) FUZZ_CHECK(text[i] == data[i]);
    FUZZ_CHECK(text[i] < 0xD800 || text[i] > 0xDFFF);
  }

  // The lines hold every character but the breaks, in order; a final break adds no empty line.
  const std::vector<std::u16string> lines = SplitLines(text);
  std::u16string joined;
  std::size_t breaks = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      ++breaks;
      if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      joined += text[i];
    }
  }
  std::u16string fromLines;
  for (const std::u16string& line : lines) {
    FUZZ_CHECK(line.find_first_of(u"\r\n") == std::u16string::npos);
    fromLines += line;
  }
  FUZZ_CHECK(fromLines == joined);
  const bool endsWithBreak = !text.empty() && (text.back() == u'\r' || text.back() == u'\n');
  FUZZ_CHECK(lines.size() == (text.empty() ? 0 : breaks + (endsWithBreak ? 0 : 1)));

  // Decoded text has no lone surrogate, so it survives the trip through UTF-8 unchanged; raw bytes
  // read as UTF-8 never raise and come back as valid UTF-8.
  FUZZ_CHECK(FromUtf8(ToUtf8(text)) == text);
  const std::u16string loose = FromUtf8(bytes);
  FUZZ_CHECK(FromUtf8(ToUtf8(loose)) == loose);
  return 0;
}
