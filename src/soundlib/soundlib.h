/*
 * soundlib: the sound library bankrip reads banks through.
 *
 * A C interface in the shape of the FMOD Ex calls the tool makes: a system
 * object, sounds opened from FSB3/FSB4/FSB5 banks, subsounds described and
 * read as decoded PCM. Every operation returns an FMOD_RESULT; 0 is success
 * and the codes match the message table of the tool (result/).
 *
 * Ownership: the caller owns the system and the bank from their creation to
 * their release. Subsound handles belong to their bank and die with it.
 * Every bank is released before its system.
 * Nothing here throws; no exception crosses this interface.
 *
 * Threads: FMOD_System_CreateSound, soundlib_bank_duplicate and the
 * system's error queries may run on several threads at once on one system
 * (each thread is told about its own last failed open). A bank handle and
 * its subsounds are used by one thread at a time; to read one bank on
 * several threads, each thread takes its own handle with
 * soundlib_bank_duplicate. What the banks of one system share (rebuilt
 * Vorbis setup headers, libvorbis's decoder set-ups, the search budget) is
 * made once, under a lock, and only read after. Create, initialise, close
 * and release the system on one thread, with no other call running.
 */
#ifndef BANKRIP_SOUNDLIB_H
#define BANKRIP_SOUNDLIB_H

#ifdef __cplusplus
extern "C" {
#endif

typedef int FMOD_RESULT;
typedef unsigned int FMOD_MODE;
typedef unsigned int FMOD_INITFLAGS;
typedef unsigned int FMOD_TIMEUNIT;

typedef struct FMOD_SYSTEM FMOD_SYSTEM;
typedef struct FMOD_SOUND FMOD_SOUND;
/* Extra information for opening a sound: needed with FMOD_OPENMEMORY, and to
 * give keys for encrypted banks. Fields past cbsize are not read, so callers
 * built against the two-field form keep working. */
typedef struct FMOD_CREATESOUNDEXINFO {
    int cbsize;          /* sizeof(FMOD_CREATESOUNDEXINFO) */
    unsigned int length; /* FMOD_OPENMEMORY: the bytes at name_or_data */
    const char *encryptionkey;               /* one key, NUL-terminated; may be null */
    /* Our additions: further keys, each tried in turn; a key's bytes may include NUL. */
    int numencryptionkeys;
    const char *const *encryptionkeys;
    const unsigned int *encryptionkeylengths;
} FMOD_CREATESOUNDEXINFO;

/* Result codes the library gives (the full table is the tool's). */
enum {
    FMOD_OK = 0,
    FMOD_ERR_FILE_BAD = 19,        /* bank contradicts itself or its data is damaged */
    FMOD_ERR_FILE_EOF = 22,        /* end of data; or headers reaching past the file */
    FMOD_ERR_FILE_NOTFOUND = 23,
    FMOD_ERR_FORMAT = 25,          /* not a bank, or a codec not decoded */
    FMOD_ERR_INTERNAL = 33,
    FMOD_ERR_INVALID_HANDLE = 36,
    FMOD_ERR_INVALID_PARAM = 37,
    FMOD_ERR_MEMORY = 42,
    FMOD_ERR_VERSION = 77,
    FMOD_ERR_UNINITIALIZED = 74
};

/* Time units. */
#define FMOD_TIMEUNIT_PCM      0x00000002u /* sample frames */
#define FMOD_TIMEUNIT_PCMBYTES 0x00000004u /* bytes of decoded PCM */

/* Loop modes, as FMOD_Sound_GetMode reports them. */
#define FMOD_LOOP_OFF    0x00000001u
#define FMOD_LOOP_NORMAL 0x00000002u

/* The stream flag: open without loading. Every bank is streamed here anyway. */
#define FMOD_CREATESTREAM 0x00000080u
/* name_or_data points at the bank's bytes in memory (exinfo->length of them),
 * which must stay there until the sound is released. */
#define FMOD_OPENMEMORY 0x00000800u
/* Our addition, a mode bit: find banks at any offset of the file, each read
 * as one part of the sound (subsounds numbered across them), not only at its
 * start or in a .bank file's chunks. */
#define SOUNDLIB_SCAN 0x40000000u
/* Our addition, a mode bit: a path whose last part is a symbolic link (a
 * reparse point on Windows) fails to open instead of being followed. */
#define SOUNDLIB_NOFOLLOW 0x20000000u

typedef enum {
    FMOD_SOUND_TYPE_UNKNOWN = 0,
    FMOD_SOUND_TYPE_FSB = 6
} FMOD_SOUND_TYPE;

/* The format of the samples a read delivers (always decoded PCM here). */
typedef enum {
    FMOD_SOUND_FORMAT_NONE = 0,
    FMOD_SOUND_FORMAT_PCM8 = 1,   /* unsigned, as WAV stores it */
    FMOD_SOUND_FORMAT_PCM16 = 2,  /* little-endian */
    FMOD_SOUND_FORMAT_PCM24 = 3,
    FMOD_SOUND_FORMAT_PCM32 = 4,
    FMOD_SOUND_FORMAT_PCMFLOAT = 5
} FMOD_SOUND_FORMAT;

FMOD_RESULT FMOD_System_Create(FMOD_SYSTEM **system);
FMOD_RESULT FMOD_System_GetVersion(FMOD_SYSTEM *system, unsigned int *version);
FMOD_RESULT FMOD_System_Init(FMOD_SYSTEM *system, int maxchannels, FMOD_INITFLAGS flags,
                             void *extradriverdata);
FMOD_RESULT FMOD_System_CreateSound(FMOD_SYSTEM *system, const char *name_or_data, FMOD_MODE mode,
                                    FMOD_CREATESOUNDEXINFO *exinfo, FMOD_SOUND **sound);
FMOD_RESULT FMOD_System_Close(FMOD_SYSTEM *system);
FMOD_RESULT FMOD_System_Release(FMOD_SYSTEM *system);

FMOD_RESULT FMOD_Sound_GetNumSubSounds(FMOD_SOUND *sound, int *numsubsounds);
FMOD_RESULT FMOD_Sound_GetSubSound(FMOD_SOUND *sound, int index, FMOD_SOUND **subsound);
/* Copies at most namelen - 1 bytes of the name and a NUL. */
FMOD_RESULT FMOD_Sound_GetName(FMOD_SOUND *sound, char *name, int namelen);
/* Any out-pointer may be null. */
FMOD_RESULT FMOD_Sound_GetFormat(FMOD_SOUND *sound, FMOD_SOUND_TYPE *type, FMOD_SOUND_FORMAT *format,
                                 int *channels, int *bits);
/* Lengths beyond 32 bits are reported as 0xFFFFFFFF. */
FMOD_RESULT FMOD_Sound_GetLength(FMOD_SOUND *sound, unsigned int *length, FMOD_TIMEUNIT lengthtype);
FMOD_RESULT FMOD_Sound_GetLoopPoints(FMOD_SOUND *sound, unsigned int *loopstart, FMOD_TIMEUNIT loopstarttype,
                                     unsigned int *loopend, FMOD_TIMEUNIT loopendtype);
/* FMOD_LOOP_NORMAL for a sound that loops from its loop start to its loop end
 * (FMOD_Sound_GetLoopPoints), FMOD_LOOP_OFF otherwise; with FMOD_CREATESTREAM. */
FMOD_RESULT FMOD_Sound_GetMode(FMOD_SOUND *sound, FMOD_MODE *mode);
/* The subsound's default playback settings; frequency in Hz. Any out-pointer may be null. */
FMOD_RESULT FMOD_Sound_GetDefaults(FMOD_SOUND *sound, float *frequency, float *volume, float *pan,
                                   int *priority);
/* Positions the next read at a PCM position given in sample frames. */
FMOD_RESULT FMOD_Sound_SeekData(FMOD_SOUND *sound, unsigned int pcm);
/* Reads decoded PCM. *read is set on every call, 0 when nothing was delivered.
 * FMOD_ERR_FILE_EOF when the end of the subsound cut the read short. */
FMOD_RESULT FMOD_Sound_ReadData(FMOD_SOUND *sound, void *buffer, unsigned int lenbytes, unsigned int *read);
FMOD_RESULT FMOD_Sound_Release(FMOD_SOUND *sound);

/* Our own addition: the decoding libraries this build uses and their
 * versions, on one line ("libmpg123 1.31.2, libvorbis 1.3.7 (...)"). */
const char *soundlib_decoder_versions(void);

/*
 * Our own addition: the codec the subsound's data is stored in, by the short
 * names listings use: PCM8, PCM16, PCM24, PCM32, PCMFLOAT, IMAADPCM, GCADPCM,
 * VAG, FADPCM, MPEG, VORBIS, and HEVAG, XMA, CELT, ATRAC9, XWMA, OPUS for
 * those not decoded. Empty for anything but a subsound.
 */
const char *soundlib_codec_name(FMOD_SOUND *subsound);

/*
 * Our own addition: the reason behind the last failing result of a sound
 * (or, for a failed open, of the system), in words a user can act on, such as
 * "codec XMA is not decoded" or "subsound 3: data reaches past the end of the
 * file". Empty when there is none. The text stays valid until the next call
 * on the same object.
 */
const char *soundlib_error_detail(FMOD_SOUND *sound);
const char *soundlib_system_error_detail(FMOD_SYSTEM *system);

/*
 * Our own addition: how many units of a subsound's data (blocks, frames or
 * packets, as *unit_name says, plural) were found damaged and given as
 * silence of their length, counted as the data is read from its start; 0
 * when none. *first_damage says what was wrong with the first. Either
 * pointer may be null; the texts stay valid until the next call on the bank.
 */
unsigned int soundlib_damaged_units(FMOD_SOUND *subsound, const char **unit_name, const char **first_damage);

/*
 * Our own addition: what opening a bank noticed without failing, one note
 * per line, each naming the file: bytes after the last bank of a file,
 * a .bank file that holds no audio, a truncated file, a damaged bank further
 * in. Empty when there is none. *damaged (may be null) is set to 1 when sounds
 * of the file may have been lost to what the notes say, 0 otherwise. The
 * text lives as long as the bank.
 */
const char *soundlib_bank_notes(FMOD_SOUND *bank, int *damaged);

/*
 * Our own additions for encrypted banks. A bank that does not read as it is
 * is tried with each key given, in both of the schemes games use (the key
 * XORed, with or without the bits of each byte reversed after).
 */
/* 1 when the bank was read with a key (never says which). */
int soundlib_bank_encrypted(FMOD_SOUND *bank);
/* After a failed open, 1 when the file may be an encrypted bank that no key
 * given (if any) fits; *keys_tried (may be null) is set to the number of keys
 * tried. */
int soundlib_system_open_encrypted(FMOD_SYSTEM *system, int *keys_tried);

/* Our own addition: a second handle on an open bank, for another thread:
 * the same subsounds, notes and names, read through a file handle, a buffer
 * and decoders of its own (the bank's bytes are not copied). Released with
 * FMOD_Sound_Release, before the system; independent of the first handle.
 * Its subsounds are made as they are asked for, and FMOD_Sound_Release on
 * one of them gives back what it took (the handle is gone then). When no
 * second file handle can be had, soundlib_error_detail on the first bank
 * handle tells why, on the thread that asked. */
FMOD_RESULT soundlib_bank_duplicate(FMOD_SOUND *bank, FMOD_SOUND **duplicate);

/* Our own addition: the offset in the file of the bank (part) that holds
 * this subsound. */
FMOD_RESULT soundlib_subsound_bank_offset(FMOD_SOUND *subsound, unsigned long long *offset);

/*
 * Our own additions: a subsound's audio as the bank stores it, one unit at a
 * time, for writing it out without decoding it (Vorbis packets into an Ogg
 * stream, MPEG frames into an .mp3 file). Nothing is decoded: damage inside
 * a unit whose framing reads right goes unseen.
 */
typedef enum {
    SOUNDLIB_STORED_NONE = 0,   /* not handed out as stored: read it decoded */
    SOUNDLIB_STORED_VORBIS = 1, /* Vorbis audio packets */
    SOUNDLIB_STORED_MPEG = 2    /* MPEG layer II or III frames of one stream (one or two channels) */
} SOUNDLIB_STORED_KIND;

/* What the subsound's stored units are. NONE for every codec but Vorbis and
 * MPEG, and for MPEG stored as several interleaved streams (more than two
 * channels); for such a sound *why_not (may be null) is set to why, in words
 * that follow "written decoded: ", else to "". The text is static. */
SOUNDLIB_STORED_KIND soundlib_stored_kind(FMOD_SOUND *subsound, const char **why_not);

/* A Vorbis subsound's headers for a stream of its packets: the
 * identification header (channels, rate, the block sizes of the set-up) and
 * the set-up packet rebuilt for it (the comment header is the caller's).
 * Both stay valid while the bank lives. Fails as a read of the decoded sound
 * does when no set-up is rebuilt (FMOD_ERR_FORMAT, with the reason in
 * soundlib_error_detail). */
FMOD_RESULT soundlib_vorbis_headers(FMOD_SOUND *subsound, const unsigned char **identification,
                                    unsigned int *identification_bytes, const unsigned char **setup,
                                    unsigned int *setup_bytes);

/* The largest stored unit: a buffer of this many bytes always holds one. */
#define SOUNDLIB_MAX_STORED_UNIT 65535u

/*
 * The subsound's next stored unit into buffer: a Vorbis packet exactly as
 * stored, or an MPEG frame without the padding after it (a first Xing/Info
 * frame is left out). *frames is the number of PCM frames decoding the unit
 * adds: for Vorbis a quarter of its block size and of the one before (0 for
 * the first packet), for MPEG the samples of a frame. The units stop after
 * the one that reaches the sound's length (FMOD_Sound_GetLength), so their
 * frames add up to at least that, or to less when the data ends first or
 * units were left out (where the sound ends is counted as in its decoded
 * form, which gives silence for what they stood for).
 * *read and *frames (either may be null) are 0 when no unit is given.
 * FMOD_ERR_FILE_EOF after the last unit. FMOD_ERR_INVALID_PARAM when the unit
 * is longer than `length` (*read is then set to its size, and it stays next).
 * Where the data is cut short or ends before the sound's length: a result as
 * FMOD_Sound_ReadData gives it, with the reason in soundlib_error_detail.
 * Units that cannot be walked (damaged MPEG framing, a Vorbis packet that is
 * no audio packet of the set-up) are left out and counted by
 * soundlib_damaged_units. Each subsound keeps its own place.
 */
FMOD_RESULT soundlib_read_stored(FMOD_SOUND *subsound, void *buffer, unsigned int length, unsigned int *read,
                                 unsigned int *frames);

/* As soundlib_read_stored, for many units in one call: as many whole units
 * as fit in `length` bytes and in max_units, back to back into buffer, the
 * size and frames of each in unit_bytes[] and unit_frames[], their number in
 * *count. FMOD_OK when at least one is given. What ends the batch after its
 * first unit is left for the next call: the end (FMOD_ERR_FILE_EOF), a unit
 * too long for what is left of the buffer, or an error, which the next call
 * returns with its detail. When not even the first unit fits:
 * FMOD_ERR_INVALID_PARAM with unit_bytes[0] its size. */
FMOD_RESULT soundlib_read_stored_units(FMOD_SOUND *subsound, void *buffer, unsigned int length,
                                       unsigned int *unit_bytes, unsigned int *unit_frames, unsigned int max_units,
                                       unsigned int *count);

/* Makes the next soundlib_read_stored give the first unit again. */
FMOD_RESULT soundlib_restart_stored(FMOD_SOUND *subsound);

/* The frames all the stored units give, up to the sound's length: what a
 * file of them holds, known before writing it (fewer than the sound's length
 * when its data is cut short or ends early). Walks the units' framing once,
 * apart from soundlib_read_stored's place. */
FMOD_RESULT soundlib_stored_frames(FMOD_SOUND *subsound, unsigned long long *frames);

/* Our own addition: the identity of the file a bank was opened from, as the
 * system tells files apart (device and inode; on Windows volume serial
 * number and file index), so a caller can tell it is the file it expected.
 * FMOD_ERR_INVALID_PARAM for a bank in memory or a subsound. */
FMOD_RESULT soundlib_bank_file_identity(FMOD_SOUND *bank, unsigned long long *device, unsigned long long *file);

#ifdef __cplusplus
}
#endif

#endif
