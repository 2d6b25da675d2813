// The command channel's interpreter: the input is the value of the channel variable, answered
// in one of the forms a server prints it (the first byte chooses), or the whole answer as it
// stands. The answer reaches the interpreter through the intake, as on the link.
#include "support/fuzzsupport.h"
#include "support/robotharness.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    vigilor::fuzz::initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray value = vigilor::fuzz::bytesOf(data + 1, size - 1);
    QByteArray answer("\xFF\xFF\xFF\xFFprint\n");
    switch (data[0] % 3) {
    case 0: // United Offensive
        answer += "\"vigilor\" is:\"" + value + "^7\" default:\"nil^7\"\n";
        break;
    case 1: // Call of Duty 2
        answer += "\"vigilor\" is: \"" + value + "^7\" default: \"nil^7\"\n";
        break;
    default:
        answer += value;
        break;
    }
    vigilor::fuzz::RobotHarness& harness = vigilor::fuzz::RobotHarness::instance();
    harness.deliver(answer);
    harness.finish();
    return 0;
}
