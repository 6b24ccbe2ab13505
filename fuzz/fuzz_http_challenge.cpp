// The challenges of a WWW-Authenticate header come straight from a server, and the user name from the
// person who typed it. The input up to its first NUL is a header value, the rest a user name. Every
// challenge read has a scheme and lower-case parameter names; an answer is made exactly for the
// challenges said to be answerable; and no answer holds a line break or NUL unless the server's own text
// did, whatever the user name.
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "platform/url/HTTPAuthorization.h"

using platform::HTTPAuthorization;
using fuzzinput::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto input = fuzzinput::parts(data, size, 2);
    const std::string header(input[0]);
    const std::string user(input[1]);
    constexpr std::string_view kLineBreaking("\r\n\0", 3);
    const bool clean = header.find_first_of(kLineBreaking) == std::string::npos;

    const auto challenges = HTTPAuthorization::parseAll(header);
    const auto first = HTTPAuthorization::parse(header);
    check(first.has_value() == !challenges.empty(), "the first challenge and the list disagree");
    if (first) check(first->scheme == challenges.front().scheme && first->parameters == challenges.front().parameters,
                     "the first challenge is not the list's first");
    for (const auto& challenge : challenges) {
        check(!challenge.scheme.empty(), "a challenge without a scheme");
        for (const auto& [name, value] : challenge.parameters)
            for (char c : name) check(!(c >= 'A' && c <= 'Z'), "a parameter name is not lower case");
        const auto answer = HTTPAuthorization::header(challenge, "GET", "/p?q=1", user, "pw", 1, "0a4f113b");
        check(answer.has_value() == HTTPAuthorization::canAnswer(challenge), "an answer for a challenge said to be unanswerable");
        if (answer && clean) check(answer->find_first_of(kLineBreaking) == std::string::npos, "an answer breaks its header line");
    }
    return 0;
}
