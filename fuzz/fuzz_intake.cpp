// The whole intake of one datagram: the bytes as they come from the server's address, through
// cleaning, the change of day, the status assembly, the rule checks or the command channel, to
// the saving of the day's log and the settings.
#include "support/fuzzsupport.h"
#include "support/robotharness.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    vigilor::fuzz::initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vigilor::fuzz::RobotHarness& harness = vigilor::fuzz::RobotHarness::instance();
    harness.deliver(vigilor::fuzz::bytesOf(data, size));
    harness.finish();
    return 0;
}
