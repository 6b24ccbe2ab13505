#pragma once

#include <optional>

#include "common/Bytes.h"

// A patch's name field and its comment in the interface's language as its file stores them, byte for
// byte: a text that does not decode reads as "", and only its bytes can put it back.
struct StoredPatchTexts {
    std::optional<Bytes> name;
    std::optional<Bytes> comment;
};
