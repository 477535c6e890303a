// A local file created (or emptied) for writing, with its own write buffer so that writing many
// small blocks costs one system call per buffer, not per block.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace korvanta::platform {

class FileWriter {
 public:
  // Creates or empties the file; throws std::system_error when it cannot be opened for writing.
  explicit FileWriter(std::u16string_view path);
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;
  // Flushes what is buffered and closes; errors are swallowed here (call Close to see them).
  ~FileWriter();

  // Throws std::system_error when the data cannot be written (disk full, ...).
  void Write(const unsigned char* data, std::size_t count);
  // Writes out the buffer and closes the file; throws when either fails. Idempotent.
  void Close();

 private:
  void Flush();
  void WriteAll(const unsigned char* data, std::size_t count);

  static constexpr std::size_t kBufferSize = 256 * 1024;
  int fd_ = -1;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t used_ = 0;
};

}  // namespace korvanta::platform
