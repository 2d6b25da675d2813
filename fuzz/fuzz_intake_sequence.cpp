// A run of datagrams, split from one input before each reply header (four 0xFF bytes), as a
// server sends a long status reply in fragments with other answers between them; at most 16,
// the last one holding the rest of the input (a long reply comes in five or six). Five hours
// pass between two datagrams, so the change of day comes every few datagrams.
#include "support/fuzzsupport.h"
#include "support/robotharness.h"

#include <QList>

namespace {

constexpr qsizetype kMaxDatagrams = 16;

QList<QByteArray> datagrams(const QByteArray& input)
{
    static const QByteArray header("\xFF\xFF\xFF\xFF");
    QList<QByteArray> parts;
    qsizetype start = 0;
    while (start < input.size()) {
        qsizetype next = parts.size() + 1 < kMaxDatagrams ? input.indexOf(header, start + 1) : -1;
        if (next < 0)
            next = input.size();
        parts.append(input.mid(start, next - start));
        start = next;
    }
    return parts;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    vigilor::fuzz::initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vigilor::fuzz::RobotHarness& harness = vigilor::fuzz::RobotHarness::instance();
    for (const QByteArray& datagram : datagrams(vigilor::fuzz::bytesOf(data, size))) {
        harness.deliver(datagram);
        harness.clock().advance(5 * 3600 * 1000);
    }
    harness.finish();
    return 0;
}
