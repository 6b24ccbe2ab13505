// Version texts come from the server and the device. The comparison must be an order: reflexive,
// antisymmetric and transitive over any three texts, or "is newer" could flip between two checks.
#include "FuzzInput.h"
#include "platform/text/VersionComparison.h"

using platform::VersionComparison;
using fuzzinput::check;

namespace {
int sign(int value) { return (value > 0) - (value < 0); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto texts = fuzzinput::parts(data, size, 3);
    const auto& a = texts[0];
    const auto& b = texts[1];
    const auto& c = texts[2];
    check(VersionComparison::compare(a, a) == 0, "a version differs from itself");
    const int ab = sign(VersionComparison::compare(a, b));
    const int bc = sign(VersionComparison::compare(b, c));
    const int ac = sign(VersionComparison::compare(a, c));
    check(ab == -sign(VersionComparison::compare(b, a)), "the order is not antisymmetric");
    if (ab <= 0 && bc <= 0) check(ac <= 0, "the order is not transitive");
    if (ab == 0 && bc == 0) check(ac == 0, "sameness is not transitive");
    if (ab >= 0 && bc >= 0) check(ac >= 0, "the order is not transitive");
    return 0;
}
