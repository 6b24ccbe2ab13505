#pragma once

#include "support/library/PatchLibraryFixture.h"

// The checks every start over a kept pool shares.
class KeptPoolStarts : public PatchLibrary {
protected:
    // A start that shows the kept pool `instead` times instead of the library, `beside` times beside it, and
    // shows `shown` (a kept session's group as "Kept"); what it said.
    Strings startShows(long instead, long beside, const Strings& shown)
    {
        Strings heard = start();
        EXPECT_EQ(count(heard, "patchPoolKept"), instead);
        EXPECT_EQ(count(heard, "patchPoolKeptBeside"), beside);
        EXPECT_EQ(asKept(order(recorder.patchPool)), shown);
        return heard;
    }
    // The pool shown is saved as it is; the next start shows it so and says nothing more of a kept pool.
    void savedAndShownAgain(const Strings& shown)
    {
        EXPECT_EQ(save(recorder.patchPool, false), std::nullopt);
        SCOPED_TRACE("as saved");
        startShows(0, 0, shown);
    }
};
