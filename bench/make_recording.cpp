// Writes a recording of made-up pings for measuring qkvdump's exports:
//   make_recording OUT PINGS survey|noise [START_HH:MM:SS]
// survey: a bottom echo whose depth wanders slowly from ping to ping under
// surface reverberation and a little noise, as a survey line looks; noise:
// every data byte random, which compresses worst. Pings are 250 ms apart.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "store/record.h"
#include "tools/headsim/reply_source.h"

namespace {

void survey_ping(long ping, uint8_t* samples)
{
    double bottom = 3000.0 + 600.0 * sin(ping / 900.0) + 80.0 * sin(ping / 37.0);
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) {
        double noise = headsim_hash(static_cast<uint32_t>(ping * PING_SAMPLE_COUNT + i)) % 6;
        double surface = 60.0 * exp(-i / 300.0);
        double below = i - bottom;
        double echo = below < -20 ? 0.0 : below < 0 ? 150.0 * exp(-below * below / 60.0)
                                                    : 150.0 * exp(-below / 40.0) + 30.0 * exp(-below / 600.0);
        double amplitude = 10.0 + noise + surface + echo;
        samples[i] = static_cast<uint8_t>(amplitude > 255.0 ? 255.0 : amplitude);
    }
}

void noise_ping(long ping, uint8_t* samples)
{
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) samples[i] = headsim_hash(static_cast<uint32_t>(ping * PING_SAMPLE_COUNT + i)) & 0xFF;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4 || (strcmp(argv[3], "survey") != 0 && strcmp(argv[3], "noise") != 0)) {
        fprintf(stderr, "usage: make_recording OUT PINGS survey|noise [START_HH:MM:SS]\n");
        return 2;
    }
    FILE* out = fopen(argv[1], "wb");
    if (out == nullptr) return 1;
    long pings = atol(argv[2]);
    bool noise = strcmp(argv[3], "noise") == 0;
    int hour = 9, minute = 0, second = 0;
    if (argc > 4) sscanf(argv[4], "%d:%d:%d", &hour, &minute, &second);
    long start_cs = ((hour * 60L + minute) * 60 + second) * 100;
    uint8_t image[PING_IMAGE_SIZE] = {'I', 'U', 'X', 0, 0, 7};
    image[PING_IMAGE_END] = RETURN_END_BYTE;
    uint8_t record[RECORD_SIZE];
    for (long ping = 0; ping < pings; ++ping) {
        (noise ? noise_ping : survey_ping)(ping, image + PING_IMAGE_SAMPLES);
        long cs = (start_cs + ping * 25) % (24L * 360000);
        char time[16], hundredths[8];
        snprintf(time, sizeof time, "%02ld:%02ld:%02ld", cs / 360000, cs / 6000 % 60, cs / 100 % 60);
        snprintf(hundredths, sizeof hundredths, ".%02ld", cs % 100);
        RecordFields fields = {"08-DEC-2026", time, hundredths, 3, 180, ping < 19 ? 0 : 250, image};
        record_build(record, &fields);
        if (fwrite(record, 1, RECORD_SIZE, out) != RECORD_SIZE) return 1;
    }
    return fclose(out) == 0 ? 0 : 1;
}
