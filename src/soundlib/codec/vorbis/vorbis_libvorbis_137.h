// libvorbis 1.3.7's encoder set-up, as far as the encoder variants change
// it (lib/codec_internal.h, lib/backends.h, lib/psy.h; same member types,
// so `long` stays 32-bit where the platform's is). libvorbisenc has no call
// for other block sizes, floors or modes; the set-ups are made of stock
// parts, so the encoder is too. Only used when the library is that one, and
// every result is checked against the wanted header's CRC.
#pragma once

namespace soundlib::libvorbis137 {

struct Psy {
    int blockflag;
    float ath_adjatt, ath_maxatt;
    float tone_masteratt[3];
    float tone_centerboost, tone_decay, tone_abs_limit;
    float toneatt[17];
    int noisemaskp;
    float noisemaxsupp, noisewindowlo, noisewindowhi;
    int noisewindowlomin, noisewindowhimin, noisewindowfixed;
    float noiseoff[3][17];
    float noisecompand[40];
    float max_curve_dB;
    int normal_p, normal_start, normal_partition;
    double normal_thresh;
};

constexpr int kPacketBlobs = 15;

struct PsyGlobal {
    int eighth_octave_lines;
    float preecho_thresh[7];
    float postecho_thresh[7];
    float stretch_penalty, preecho_minenergy, ampmax_att_per_sec;
    int coupling_pkHz[kPacketBlobs];
    int coupling_pointlimit[2][kPacketBlobs];  // in bins of a block of each size
    int coupling_prepointamp[kPacketBlobs];
    int coupling_postpointamp[kPacketBlobs];
    int sliding_lowpass[2][kPacketBlobs];  // likewise
};

struct CodecSetup {
    long blocksizes[2];
    int modes, maps, floors, residues, books, psys;
    void* mode_param[64];
    int map_type[64];
    void* map_param[64];
    int floor_type[64];
    void* floor_param[64];
    int residue_type[64];
    void* residue_param[64];
    void* book_param[256];
    void* fullbooks;
    Psy* psy_param[4];
    PsyGlobal psy_g_param;
};

struct Mode {
    int blockflag, windowtype, transformtype, mapping;
};

struct Mapping0 {
    int submaps;
    int chmuxlist[256];
    int floorsubmap[16];
    int residuesubmap[16];
    int coupling_steps;
    int coupling_mag[256];
    int coupling_ang[256];
};

struct Floor1 {
    int partitions;
    int partitionclass[31];
    int class_dim[16];
    int class_subs[16];
    int class_book[16];
    int class_subbook[16][8];
    int mult;
    int postlist[65];
    float maxover, maxunder, maxerr, twofitweight, twofitatten;
    int n;
};

struct Residue0 {
    long begin, end;
    int grouping, partitions, partvals, groupbook;
    int secondstages[64];
    int booklist[512];
    int classmetric1[64];  // const there; how the encoder picks a partition's class
    int classmetric2[64];
};

}  // namespace soundlib::libvorbis137
