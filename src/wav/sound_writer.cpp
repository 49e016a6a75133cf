#include "wav/sound_writer.h"

#include "wav/flac_writer.h"
#include "wav/stored_writers.h"
#include "wav/wav_writer.h"

const char* format_extension(OutputFormat format) {
    switch (format) {
        case OutputFormat::flac: return ".flac";
        case OutputFormat::ogg: return ".ogg";
        case OutputFormat::mp3: return ".mp3";
        case OutputFormat::wav: break;
    }
    return ".wav";
}

const char* format_name(OutputFormat format) { return format_extension(format) + 1; }

std::unique_ptr<SoundWriter> make_pcm_writer(OutputFormat format, bool loop_chunk) {
    if (format == OutputFormat::flac) return make_flac_writer();
    return make_wav_writer(loop_chunk);
}

bool keeps_stored_units(OutputFormat format) { return format == OutputFormat::ogg || format == OutputFormat::mp3; }

std::unique_ptr<SoundWriter> make_writer(OutputFormat format, bool loop_chunk) {
    switch (format) {
        case OutputFormat::ogg: return make_ogg_writer();
        case OutputFormat::mp3: return make_mp3_writer();
        case OutputFormat::wav:
        case OutputFormat::flac: break;
    }
    return make_pcm_writer(format, loop_chunk);
}
