// FSB5 Vorbis packets as stored, for an Ogg stream of them: each packet's
// frames come from its block size and the one before (a quarter of each),
// the first giving none, exactly as libvorbis decodes them.
#pragma once

#include "soundlib/codec/stored_units.h"

namespace soundlib {

// Fails as the decoder does when no set-up is rebuilt for the subsound.
StoredChoice make_vorbis_packets(const SubsoundInfo& info, BankFile& file, CodecCache& cache);

}  // namespace soundlib
