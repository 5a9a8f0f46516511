#pragma once

#include <optional>
#include <string>

#include "engine/rank_types.h"

namespace velquist::fuzz {

// The page parsers as the old Perl patterns define them, kept as the oracle the fuzz harnesses
// compare against. This file is compiled without coverage feedback, so the fuzzer steers by
// the parsers under test and not by the regex engine's paths. nullopt when the regex engine
// gives up on a page.

struct NaturalOutcome {
    int result = 0;
    bool found = false;
    int rankNum = 0;
    std::string rankText;
};

// ParseNaturalPage by <cite(.*?)>(.*?)</cite>.
std::optional<NaturalOutcome> ReferenceNatural(const std::string& page, int pageNo,
                                               STRUCT_SITE site);

// ParsePaidPage by <cite>(.*?)</cite>; the site as it is afterwards.
std::optional<STRUCT_SITE> ReferencePaid(const std::string& page, STRUCT_SITE site);

}  // namespace velquist::fuzz
