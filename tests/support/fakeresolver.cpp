// A name server the test controls, preloaded into the program under test (LD_PRELOAD): the
// program's own lookup (QHostInfo, getaddrinfo of the C library) runs as it always does, and
// only the names listed in the file named by VIGILOR_TEST_HOSTS are answered from that file.
// A line is "NAME ADDRESS [DELAY_MS]": the name resolves to the numeric ADDRESS, or is not found
// when ADDRESS is "-", after DELAY_MS milliseconds (a slow name server). Every other name goes
// to the real resolver. The file is read at every lookup, so a test can make a name start (or
// stop) resolving while the program runs.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <netdb.h>
#include <strings.h>

namespace {

using GetAddrInfo = int (*)(const char*, const char*, const addrinfo*, addrinfo**);

GetAddrInfo realGetAddrInfo()
{
    static const auto real = reinterpret_cast<GetAddrInfo>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return real;
}

void sleepMs(long ms)
{
    timespec rest{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

} // namespace

// Tests look this up to know whether the fake name server is in place.
extern "C" {
__attribute__((visibility("default"))) int vigilor_fake_resolver = 1;
}

extern "C" __attribute__((visibility("default"))) int
getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result)
{
    const char* path = std::getenv("VIGILOR_TEST_HOSTS");
    FILE* file = node && path ? std::fopen(path, "re") : nullptr;
    if (!file)
        return realGetAddrInfo()(node, service, hints, result);
    char line[512];
    char name[256];
    char address[128];
    long delay = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, file)) {
        delay = 0;
        found = std::sscanf(line, "%255s %127s %ld", name, address, &delay) >= 2 &&
                strcasecmp(name, node) == 0;
    }
    std::fclose(file);
    if (!found)
        return realGetAddrInfo()(node, service, hints, result);
    if (delay > 0)
        sleepMs(delay);
    if (std::strcmp(address, "-") == 0)
        return EAI_NONAME;
    addrinfo numeric{};
    if (hints)
        numeric = *hints;
    // The answer is the listed address whatever interfaces the machine has.
    numeric.ai_flags = (numeric.ai_flags & ~AI_ADDRCONFIG) | AI_NUMERICHOST;
    return realGetAddrInfo()(address, service, &numeric, result);
}
