// What /proc tells of a process and of a mapping, as the helper and the
// library parse it: any text, never a read past its end, and an identity
// only from a text that names a start time.
#include <string.h>
#include <vector>
#include "fuzzstate.h"
#include "procstat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<char> text(data, data + size);  // exactly the bytes: no terminator to lean on
    char state = 0;
    uint64_t start = 0;
    bool parsed = ParseProcStat(text.data(), text.size(), &state, &start);
    uint32_t identity = ProcIdentityFromStat(text.data(), text.size());
    FuzzCheck(!parsed || state == 'Z' || state == 'X' || identity == ProcIdentityOf(start),
              "identity differs from the start time parsed");
    FuzzCheck(parsed || identity == 0, "identity without a start time");
    uint64_t at = 0, inode = 0;
    uint32_t major = 0, minor = 0;
    ParseMapsLine(text.data(), text.size(), &at, &major, &minor, &inode);
    return 0;
}
