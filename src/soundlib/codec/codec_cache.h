// State that decoders of one bank share and keep between subsounds, such as
// set-up data that is costly to rebuild. Lives as long as the bank.
#pragma once

namespace soundlib {

struct CodecCache {};

}  // namespace soundlib
