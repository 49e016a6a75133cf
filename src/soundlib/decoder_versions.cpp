#include <vorbis/codec.h>

#include <string>

#include "soundlib/soundlib.h"

#ifndef SOUNDLIB_MPG123_VERSION
#define SOUNDLIB_MPG123_VERSION "unknown"
#endif
#ifndef SOUNDLIB_VORBIS_VERSION
#define SOUNDLIB_VORBIS_VERSION "unknown"
#endif

extern "C" const char* soundlib_decoder_versions(void) {
    // The package versions we built against; libvorbis also names itself.
    static const std::string text = std::string("libmpg123 ") + SOUNDLIB_MPG123_VERSION + ", libvorbis " +
                                    SOUNDLIB_VORBIS_VERSION + " (" + vorbis_version_string() + ")";
    return text.c_str();
}
