// CP932 <-> UTF-8 at the Linux layer's boundary. iconv's "CP932", never "SHIFT_JIS": that one
// turns '\' into a yen sign and rejects the NEC and IBM extensions (①, ⅰ) that Windows accepts.
#include <errno.h>
#include <iconv.h>
#include <string.h>

#include <mutex>

#include "platform/linux/layer.h"

namespace {

// iconv descriptors are not thread-safe; each direction has one, guarded by its own lock.
struct Converter {
  iconv_t descriptor = (iconv_t)-1;
  std::mutex lock;
};

Converter& toUtf8() {
  static Converter converter;
  static std::once_flag opened;
  std::call_once(opened, [] { converter.descriptor = iconv_open("UTF-8", "CP932"); });
  return converter;
}

Converter& toCp932() {
  static Converter converter;
  static std::once_flag opened;
  std::call_once(opened, [] { converter.descriptor = iconv_open("CP932", "UTF-8"); });
  return converter;
}

// Converts as much as it can; at a sequence it cannot convert it writes replacement (or gives
// up when replacement is null) and skips one input byte.
bool convert(Converter& converter, const char* text, size_t length, std::string* out,
             const char* replacement) {
  out->clear();
  if (converter.descriptor == (iconv_t)-1) return false;
  std::lock_guard<std::mutex> guard(converter.lock);
  iconv(converter.descriptor, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(text);
  size_t inLeft = length;
  char buffer[1024];
  while (inLeft > 0) {
    char* outPointer = buffer;
    size_t outLeft = sizeof buffer;
    size_t result = iconv(converter.descriptor, &in, &inLeft, &outPointer, &outLeft);
    out->append(buffer, outPointer - buffer);
    if (result != (size_t)-1) break;
    if (errno == E2BIG) continue;
    if (!replacement) return false;
    // EILSEQ or EINVAL (a lead byte at the very end): replace one byte and go on.
    out->append(replacement);
    ++in;
    --inLeft;
    iconv(converter.descriptor, nullptr, nullptr, nullptr, nullptr);
  }
  return true;
}

}  // namespace

std::string cp932ToUtf8(const char* text, size_t length) {
  std::string out;
  convert(toUtf8(), text, length, &out, "\xEF\xBF\xBD");
  return out;
}

std::string cp932ToUtf8(const char* text) { return cp932ToUtf8(text, text ? strlen(text) : 0); }

bool cp932ToUtf8Exactly(const char* text, std::string* out) {
  return convert(toUtf8(), text, text ? strlen(text) : 0, out, nullptr);
}

bool utf8ToCp932(const std::string& text, std::string* out) {
  return convert(toCp932(), text.data(), text.size(), out, nullptr);
}
