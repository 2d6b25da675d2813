// xxdecode of the stored upload address, and xxencode back: any value decodes without fault
// to at most 63 bytes, and every text of up to 63 bytes survives an encoding and a decoding.
#include "settings/xxcode.h"
#include "support/fuzzsupport.h"
#include "text/cp1250.h"
#include "text/errors.h"

using namespace vigilor;
using namespace vigilor::settings;
using namespace vigilor::fuzz;

namespace {

bool inAlphabet(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'+' || u == u'-' || (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') ||
           (u >= u'a' && u <= u'z');
}

void checkEncoding(const QString& text)
{
    const qsizetype bytes = text::toCp1250(text).size();
    QString encoded;
    try {
        encoded = xxencode(text);
    } catch (const Error&) {
        FUZZ_CHECK(bytes > kXxMaxBytes, QString::number(bytes));
        return;
    }
    FUZZ_CHECK(bytes <= kXxMaxBytes, QString::number(bytes));
    FUZZ_CHECK(encoded.size() == 1 + (bytes + 2) / 3 * 4, encoded);
    FUZZ_CHECK(std::all_of(encoded.cbegin(), encoded.cend(), inAlphabet), encoded);
    FUZZ_CHECK(xxdecode(encoded) == text, encoded);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString input = text::fromCp1250(bytesOf(data, size));
    const QString decoded = xxdecode(input);
    FUZZ_CHECK(text::toCp1250(decoded).size() <= kXxMaxBytes, decoded);
    checkEncoding(decoded);
    // The input itself as an address to store; what code page 1250 lacks is not in it, since
    // it was read as code page 1250.
    checkEncoding(input);
    return 0;
}
