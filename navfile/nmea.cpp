#include "navfile/nmea.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char HEX_DIGITS[] = "0123456789ABCDEF";
constexpr int FIELD_SIZE = NMEA_TEXT_MAX + 1;
constexpr int SENTENCE_TYPE_LENGTH = 3;  // after the talker: "GGA" of "GPGGA"

// GGA's fix quality 0 to 8.
const char* const GGA_QUALITY[] = {"no fix",    "GPS",       "DGPS",   "PPS",       "RTK",
                                   "float RTK", "estimated", "manual", "simulated"};
constexpr int GGA_QUALITY_COUNT = sizeof GGA_QUALITY / sizeof GGA_QUALITY[0];

// RMC's mode letter (NMEA 2.3 and later).
struct ModeName {
    char letter;
    const char* name;
};
const ModeName RMC_MODES[] = {{'A', "GPS"},     {'D', "DGPS"},   {'P', "PPS"},       {'R', "RTK"},
                              {'F', "float RTK"}, {'E', "estimated"}, {'M', "manual"}, {'S', "simulated"}};

// GGA: time, latitude, N/S, longitude, E/W, quality, satellites; RMC: time, status, latitude, ...
enum GgaField {
    GGA_TIME = 1,
    GGA_LATITUDE = 2,
    GGA_QUALITY_FIELD = 6,
    GGA_SATELLITES = 7,
    GGA_ALTITUDE = 9,
    GGA_SEPARATION = 11,
};
// PASHR: time, heading, 'T', roll, pitch, heave, ...; HDT: heading, 'T'.
enum PashrField { PASHR_TIME = 1, PASHR_HEADING = 2, PASHR_TRUE = 3, PASHR_ROLL = 4, PASHR_PITCH = 5, PASHR_HEAVE = 6 };
enum HdtField { HDT_HEADING = 1, HDT_TRUE = 2 };
// The bounds of PASHR's values, as its makers give them.
constexpr double ATTITUDE_ANGLE_MAX = 90.0;
constexpr double HEAVE_MAX_M = 99.0;
enum RmcField {
    RMC_TIME = 1,
    RMC_STATUS = 2,
    RMC_LATITUDE = 3,
    RMC_SPEED = 7,
    RMC_COURSE = 8,
    RMC_DATE = 9,
    RMC_MODE = 12,
};
// Receivers stop giving fixes above 1000 knots (the export limit on GNSS receivers): a faster speed is a fault.
constexpr double RMC_SPEED_MAX_KNOTS = 1000.0;
constexpr int LATITUDE_DEGREE_DIGITS = 2;
constexpr int LONGITUDE_DEGREE_DIGITS = 3;

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

NmeaVerdict end_sentence(NmeaFramer* framer)
{
    NmeaVerdict verdict = framer->too_long ? NMEA_TOO_LONG
                          : framer->broken ? NMEA_BROKEN
                                           : nmea_check(framer->text, static_cast<size_t>(framer->length));
    framer->text[framer->length] = 0;
    framer->collecting = false;
    return verdict;
}

void start_sentence(NmeaFramer* framer, char start)
{
    nmea_framer_reset(framer);
    framer->collecting = true;
    framer->text[0] = start;
    framer->length = 1;
}

// Field n of a sentence (0: the address, "GPGGA"), fields ending at ',' or '*'; false past the last.
// Each sentence is read field by field, often many to a line: a plain loop over its few characters, which costs
// less than the library's searches set up for long texts.
bool field_of(const char* sentence, int n, char out[FIELD_SIZE])
{
    const char* at = sentence + 1;
    for (int i = 0; i < n; ++i) {
        while (*at != 0 && *at != ',' && *at != '*') ++at;
        if (*at != ',') return false;
        ++at;
    }
    size_t length = 0;
    while (at[length] != 0 && at[length] != ',' && at[length] != '*') ++length;
    memcpy(out, at, length);
    out[length] = 0;
    return true;
}

bool is_type(const char* address, const char* type)
{
    size_t length = strlen(address);
    return length > SENTENCE_TYPE_LENGTH && strcmp(address + length - SENTENCE_TYPE_LENGTH, type) == 0;
}

bool all_digits(const char* text, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

// "ddmm" or "ddmm.m..." (degree_digits of degrees): whole degrees and minutes with any number of decimals.
bool degrees_and_minutes(const char* value, int degree_digits)
{
    size_t whole = strcspn(value, ".");
    size_t length = strlen(value);
    bool fraction_ok = whole == length || (whole + 1 < length && all_digits(value + whole + 1, length - whole - 1));
    return whole == static_cast<size_t>(degree_digits) + 2 && all_digits(value, whole) && fraction_ok;
}

// "5106.9848" and "N" as "51 06.9848 N"; empty unless the value is whole
// degrees and minutes ("ddmm" or "ddmm.m...") and the hemisphere one of the
// two. Decimals of minutes beyond the text's room are left off.
void format_angle(const char* value, const char* hemisphere, int degree_digits, const char* hemispheres,
                  char out[NMEA_ANGLE_TEXT_SIZE])
{
    out[0] = 0;
    if (!degrees_and_minutes(value, degree_digits) || strlen(hemisphere) != 1 ||
        strchr(hemispheres, hemisphere[0]) == nullptr) {
        return;
    }
    int minutes_room = NMEA_ANGLE_TEXT_SIZE - 1 - degree_digits - 3;  // less two blanks and the hemisphere
    snprintf(out, NMEA_ANGLE_TEXT_SIZE, "%.*s %.*s %s", degree_digits, value, minutes_room, value + degree_digits,
             hemisphere);
}

// Latitude, N/S, longitude, E/W from field first on.
void take_position(const char* sentence, int first, NmeaFix* fix)
{
    char value[FIELD_SIZE], hemisphere[FIELD_SIZE];
    fix->latitude[0] = fix->longitude[0] = 0;
    if (field_of(sentence, first, value) && field_of(sentence, first + 1, hemisphere)) {
        format_angle(value, hemisphere, LATITUDE_DEGREE_DIGITS, "NS", fix->latitude);
    }
    if (field_of(sentence, first + 2, value) && field_of(sentence, first + 3, hemisphere)) {
        format_angle(value, hemisphere, LONGITUDE_DEGREE_DIGITS, "EW", fix->longitude);
    }
}

void set_quality(NmeaFix* fix, const char* name)
{
    snprintf(fix->quality, sizeof fix->quality, "%s", name);
    fix->valid = strcmp(name, GGA_QUALITY[0]) != 0;
}

void take_gga(const char* sentence, NmeaFix* fix)
{
    char value[FIELD_SIZE];
    int quality = 0;
    if (field_of(sentence, GGA_QUALITY_FIELD, value) && strlen(value) == 1 && all_digits(value, 1)) {
        quality = value[0] - '0';
    }
    set_quality(fix, quality < GGA_QUALITY_COUNT ? GGA_QUALITY[quality] : GGA_QUALITY[0]);
    fix->satellites = -1;
    size_t digits = field_of(sentence, GGA_SATELLITES, value) ? strlen(value) : 0;
    if (digits > 0 && digits <= 2 && all_digits(value, digits)) {
        fix->satellites = 0;
        for (size_t i = 0; i < digits; ++i) fix->satellites = fix->satellites * 10 + (value[i] - '0');
    }
    take_position(sentence, GGA_LATITUDE, fix);
}

// Status A is a fix, V none; the mode letter, where given, says which kind.
void take_rmc(const char* sentence, NmeaFix* fix)
{
    char status[FIELD_SIZE], mode[FIELD_SIZE];
    const char* name = GGA_QUALITY[0];
    if (field_of(sentence, RMC_STATUS, status) && strcmp(status, "A") == 0) {
        name = GGA_QUALITY[1];
        if (field_of(sentence, RMC_MODE, mode) && strlen(mode) == 1) {
            name = GGA_QUALITY[0];
            for (const ModeName& known : RMC_MODES) {
                if (known.letter == mode[0]) name = known.name;
            }
        }
    }
    set_quality(fix, name);
    take_position(sentence, RMC_LATITUDE, fix);
}

enum AngleRead { ANGLE_ABSENT, ANGLE_GOOD, ANGLE_IMPOSSIBLE };

// An angle of whole degrees and decimal minutes with any number of decimals
// ("4404.126998", "12118.84414300") as signed decimal degrees, and its
// decimals; empty fields are absent, anything else but a real angle impossible.
AngleRead angle_value(const char* sentence, int field, int degree_digits, const char* hemispheres, double* degrees,
                      int* decimals)
{
    char value[FIELD_SIZE], hemisphere[FIELD_SIZE];
    bool value_given = field_of(sentence, field, value) && value[0] != 0;
    bool hemisphere_given = field_of(sentence, field + 1, hemisphere) && hemisphere[0] != 0;
    if (!value_given && !hemisphere_given) return ANGLE_ABSENT;
    if (!value_given || strlen(hemisphere) != 1 || strchr(hemispheres, hemisphere[0]) == nullptr) {
        return ANGLE_IMPOSSIBLE;
    }
    if (!degrees_and_minutes(value, degree_digits)) return ANGLE_IMPOSSIBLE;
    int whole_degrees = 0;
    for (int i = 0; i < degree_digits; ++i) whole_degrees = whole_degrees * 10 + (value[i] - '0');
    double minutes = strtod(value + degree_digits, nullptr);
    double limit = degree_digits == LATITUDE_DEGREE_DIGITS ? 90.0 : 180.0;
    *degrees = whole_degrees + minutes / 60.0;
    if (minutes >= 60.0 || *degrees > limit) return ANGLE_IMPOSSIBLE;
    if (hemisphere[0] == hemispheres[1]) *degrees = -*degrees;
    const char* point = strchr(value, '.');
    *decimals = point == nullptr ? 0 : static_cast<int>(strlen(point + 1));
    return ANGLE_GOOD;
}

// Decimals of up to 15 digits, a sign and one point ("-12.345"), read exactly as strtod reads them, without its
// cost: a whole number of at most 15 digits and a power of ten up to 10^22 are both doubles, so their quotient is
// rounded once, as strtod rounds. False, reading nothing, for any other text (an exponent, more digits).
bool plain_decimal(const char* text, double* value)
{
    static const double POWERS[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* at = text + (*text == '+' || *text == '-' ? 1 : 0);
    int64_t whole = 0;
    int digits = 0, decimals = -1;
    for (; *at != 0; ++at) {
        if (*at == '.' && decimals < 0) {
            decimals = 0;
            continue;
        }
        if (*at < '0' || *at > '9' || ++digits > 15) return false;
        whole = whole * 10 + (*at - '0');
        if (decimals >= 0) ++decimals;
    }
    if (digits == 0) return false;
    double magnitude = static_cast<double>(whole) / POWERS[decimals > 0 ? decimals : 0];
    *value = *text == '-' ? -magnitude : magnitude;
    return true;
}

// "hhmmss" or "hhmmss.sss" as milliseconds of the day; -1 when not such.
long time_of_day_text(const char* value)
{
    if (strlen(value) < 6 || !all_digits(value, 6)) return -1;
    long hours = (value[0] - '0') * 10 + (value[1] - '0');
    long minutes = (value[2] - '0') * 10 + (value[3] - '0');
    long seconds = (value[4] - '0') * 10 + (value[5] - '0');
    double fraction = 0.0;
    if (value[6] == '.' && !plain_decimal(value + 6, &fraction)) fraction = strtod(value + 6, nullptr);
    if (hours > 23 || minutes > 59 || seconds > 60 || (value[6] != 0 && value[6] != '.')) return -1;
    return ((hours * 60 + minutes) * 60 + seconds) * 1000 + static_cast<long>(fraction * 1000.0 + 0.5);
}

long time_of_day_ms(const char* sentence, int field)
{
    char value[FIELD_SIZE];
    return field_of(sentence, field, value) ? time_of_day_text(value) : -1;
}

// RMC's date, ddmmyy: years 80 to 99 are 1980 to 1999, the rest 2000 to 2079 (GPS began in 1980).
bool date_value(const char* sentence, int field, int* year, int* month, int* day)
{
    char value[FIELD_SIZE];
    if (!field_of(sentence, field, value) || strlen(value) != 6 || !all_digits(value, 6)) return false;
    *day = (value[0] - '0') * 10 + (value[1] - '0');
    *month = (value[2] - '0') * 10 + (value[3] - '0');
    int two_digits = (value[4] - '0') * 10 + (value[5] - '0');
    *year = two_digits >= 80 ? 1900 + two_digits : 2000 + two_digits;
    return *day >= 1 && *day <= 31 && *month >= 1 && *month <= 12;
}

// A decimal number field ("4.2", "+0.31", "-12"); false when empty or not such (no "inf", "nan" or hexadecimal).
bool number_text(const char* value, double* number)
{
    char* end = nullptr;
    if (value[0] == 0) return false;
    if (plain_decimal(value, number)) return true;
    const char* digits_at = value[0] == '+' || value[0] == '-' ? value + 1 : value;
    if (!((*digits_at >= '0' && *digits_at <= '9') || *digits_at == '.')) return false;
    if (strpbrk(value, "xXpP") != nullptr) return false;
    *number = strtod(value, &end);
    return *end == 0 && std::isfinite(*number);
}

bool number_value(const char* sentence, int field, double* number)
{
    char value[FIELD_SIZE];
    return field_of(sentence, field, value) && number_text(value, number);
}

// The first count fields of a sentence in one pass (field_of reads from the start each time); false when it has
// fewer.
bool first_fields(const char* sentence, int count, char (*out)[FIELD_SIZE])
{
    const char* at = sentence + 1;
    for (int i = 0; i < count; ++i) {
        size_t length = 0;
        while (at[length] != 0 && at[length] != ',' && at[length] != '*') ++length;
        memcpy(out[i], at, length);
        out[i][length] = 0;
        at += length;
        if (i + 1 < count && *at++ != ',') return false;
    }
    return true;
}

// A number field from low to high; false when not given or out of them.
bool ranged_value(const char* sentence, int field, double low, double high, double* number)
{
    if (!number_value(sentence, field, number) || *number < low || *number > high) return false;
    if (*number == 0.0) *number = 0.0;  // "-0" is 0, not a negative zero that prints as "-0.0"
    return true;
}

// A field holding exactly the text.
bool field_is(const char* sentence, int field, const char* text)
{
    char value[FIELD_SIZE];
    return field_of(sentence, field, value) && strcmp(value, text) == 0;
}

// A true heading field followed by 'T': 0 to 360 degrees.
bool true_heading(const char* sentence, int field, double* degrees)
{
    return field_is(sentence, field + 1, "T") && number_value(sentence, field, degrees) && *degrees >= 0 &&
           *degrees <= 360.0;
}

// The sentence's address, "GPGGA" or "PASHR"; false for none.
bool address_is(const char* sentence, const char* type)
{
    char address[FIELD_SIZE];
    return field_of(sentence, 0, address) && is_type(address, type);
}

// The GGA number of a quality name.
int quality_number(const char* name)
{
    for (int i = 0; i < GGA_QUALITY_COUNT; ++i) {
        if (strcmp(GGA_QUALITY[i], name) == 0) return i;
    }
    return 0;
}

}  // namespace

void nmea_framer_reset(NmeaFramer* framer)
{
    framer->length = 0;
    framer->text[0] = 0;
    framer->collecting = false;
    framer->too_long = false;
    framer->broken = false;
    framer->after_cr = false;
}

NmeaVerdict nmea_framer_take(NmeaFramer* framer, uint8_t byte)
{
    if (byte == '$' || byte == '!') {
        NmeaVerdict cut = framer->collecting ? (framer->too_long ? NMEA_TOO_LONG : NMEA_BROKEN) : NMEA_PENDING;
        start_sentence(framer, static_cast<char>(byte));
        return cut;
    }
    if (!framer->collecting) return NMEA_PENDING;
    if (byte == '\n') return end_sentence(framer);
    if (framer->after_cr || byte == '\r') {
        framer->broken = framer->broken || framer->after_cr;  // a CR not followed by LF
        framer->after_cr = byte == '\r';
        return NMEA_PENDING;
    }
    if (byte < 0x20 || byte > 0x7E) framer->broken = true;
    if (framer->length >= NMEA_TEXT_MAX) {
        framer->too_long = true;
    } else {
        framer->text[framer->length++] = static_cast<char>(byte);
    }
    return NMEA_PENDING;
}

uint8_t nmea_checksum(const char* text, size_t count)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum ^= static_cast<uint8_t>(text[i]);
    return sum;
}

NmeaVerdict nmea_check(const char* text, size_t length)
{
    const void* found = memchr(text, '*', length);
    if (found == nullptr) return NMEA_NO_CHECKSUM;
    size_t star = static_cast<size_t>(static_cast<const char*>(found) - text);
    if (star + NMEA_CHECKSUM_LENGTH != length) return NMEA_NO_CHECKSUM;
    int high = hex_value(text[star + 1]);
    int low = hex_value(text[star + 2]);
    if (high < 0 || low < 0) return NMEA_NO_CHECKSUM;
    bool right = nmea_checksum(text + 1, star - 1) == static_cast<uint8_t>(high * 16 + low);
    return right ? NMEA_GOOD : NMEA_BAD_CHECKSUM;
}

size_t nmea_append_checksum(char* text, size_t length)
{
    uint8_t sum = nmea_checksum(text + 1, length - 1);
    text[length] = '*';
    text[length + 1] = HEX_DIGITS[sum >> 4];
    text[length + 2] = HEX_DIGITS[sum & 0x0F];
    text[length + 3] = 0;
    return length + NMEA_CHECKSUM_LENGTH;
}

void nmea_fix_clear(NmeaFix* fix)
{
    memset(fix, 0, sizeof *fix);
    fix->satellites = -1;
}

bool nmea_take_fix(const char* sentence, NmeaFix* fix)
{
    char address[FIELD_SIZE];
    if (!field_of(sentence, 0, address)) return false;
    int satellites = fix->satellites;
    if (is_type(address, "GGA")) {
        take_gga(sentence, fix);
    } else if (is_type(address, "RMC")) {
        take_rmc(sentence, fix);
        fix->satellites = satellites;  // RMC does not tell them
    } else {
        return false;
    }
    fix->present = true;
    return true;
}

bool nmea_read_position(const char* sentence, NmeaPosition* position)
{
    char address[FIELD_SIZE];
    *position = NmeaPosition{};
    if (!field_of(sentence, 0, address)) return false;
    bool gga = is_type(address, "GGA");
    if (!gga && !is_type(address, "RMC")) return false;
    NmeaFix fix;
    nmea_fix_clear(&fix);
    (gga ? take_gga : take_rmc)(sentence, &fix);
    position->kind = gga ? NMEA_FIX_GGA : NMEA_FIX_RMC;
    position->quality = quality_number(fix.quality);
    int time_field = gga ? static_cast<int>(GGA_TIME) : static_cast<int>(RMC_TIME);
    int first = gga ? static_cast<int>(GGA_LATITUDE) : static_cast<int>(RMC_LATITUDE);
    position->utc_ms_of_day = time_of_day_ms(sentence, time_field);
    if (gga || !date_value(sentence, RMC_DATE, &position->year, &position->month, &position->day)) {
        position->year = position->month = position->day = 0;
    }
    int latitude_decimals = 0, longitude_decimals = 0;
    AngleRead latitude =
        angle_value(sentence, first, LATITUDE_DEGREE_DIGITS, "NS", &position->latitude, &latitude_decimals);
    AngleRead longitude =
        angle_value(sentence, first + 2, LONGITUDE_DEGREE_DIGITS, "EW", &position->longitude, &longitude_decimals);
    position->has_position = latitude == ANGLE_GOOD && longitude == ANGLE_GOOD;
    position->impossible = !position->has_position && (latitude != ANGLE_ABSENT || longitude != ANGLE_ABSENT);
    position->minute_decimals = latitude_decimals > longitude_decimals ? latitude_decimals : longitude_decimals;
    position->has_motion = !gga &&
                           ranged_value(sentence, RMC_SPEED, 0.0, RMC_SPEED_MAX_KNOTS, &position->speed_knots) &&
                           ranged_value(sentence, RMC_COURSE, 0.0, 360.0, &position->course_degrees);
    position->has_height = gga && number_value(sentence, GGA_ALTITUDE, &position->altitude_m) &&
                           field_is(sentence, GGA_ALTITUDE + 1, "M") &&
                           number_value(sentence, GGA_SEPARATION, &position->geoid_separation_m) &&
                           field_is(sentence, GGA_SEPARATION + 1, "M");
    return true;
}

bool nmea_read_pashr(const char* sentence, NmeaAttitude* attitude)
{
    *attitude = NmeaAttitude{};
    // A motion sensor sends it many times a second: its fields are read in one pass.
    char fields[PASHR_HEAVE + 1][FIELD_SIZE] = {};
    if (strncmp(sentence + 1, "PASHR,", 6) != 0) return false;
    first_fields(sentence, PASHR_HEAVE + 1, fields);
    attitude->utc_ms_of_day = time_of_day_text(fields[PASHR_TIME]);
    if (attitude->utc_ms_of_day < 0) return false;  // another of the receivers' $PASHR sentences
    double* heading = &attitude->heading_degrees;
    attitude->has_heading = strcmp(fields[PASHR_TRUE], "T") == 0 && number_text(fields[PASHR_HEADING], heading) &&
                            *heading >= 0 && *heading <= 360.0;
    const struct {
        PashrField field;
        double limit;
        bool* has;
        double* value;
    } values[] = {{PASHR_ROLL, ATTITUDE_ANGLE_MAX, &attitude->has_roll, &attitude->roll_degrees},
                  {PASHR_PITCH, ATTITUDE_ANGLE_MAX, &attitude->has_pitch, &attitude->pitch_degrees},
                  {PASHR_HEAVE, HEAVE_MAX_M, &attitude->has_heave, &attitude->heave_m}};
    for (const auto& v : values) {
        *v.has = number_text(fields[v.field], v.value) && *v.value >= -v.limit && *v.value <= v.limit;
    }
    return true;
}

bool nmea_read_hdt(const char* sentence, double* heading_degrees)
{
    return address_is(sentence, "HDT") && true_heading(sentence, HDT_HEADING, heading_degrees);
}

namespace {

constexpr double METRES_A_FOOT = 0.3048;
constexpr double METRES_A_FATHOM = 1.8288;

size_t finish_sentence(char* text, size_t size, int length)
{
    // "*hh", CR LF and the end; no longer than a sentence may be
    if (length <= 0 || static_cast<size_t>(length) + 6 > size || length + 5 > NMEA_SENTENCE_MAX) return 0;
    size_t used = nmea_append_checksum(text, static_cast<size_t>(length));
    text[used++] = '\r';
    text[used++] = '\n';
    text[used] = 0;
    return used;
}

bool is_depth(double metres) { return std::isfinite(metres) && metres >= 0; }

// A value with that many decimals in a field's room; false when it has not room enough.
bool number_text(double value, int decimals, char text[NMEA_SENTENCE_MAX])
{
    int length = snprintf(text, NMEA_SENTENCE_MAX, "%.*f", decimals, value);
    return length > 0 && length < NMEA_SENTENCE_MAX;
}

// DBT's and DBS's fields: the depth in feet, metres and fathoms, or empty ones.
size_t feet_metres_fathoms(const char* address, double metres, char* text, size_t size)
{
    if (!is_depth(metres)) return finish_sentence(text, size, snprintf(text, size, "$%s,,f,,M,,F", address));
    return finish_sentence(text, size, snprintf(text, size, "$%s,%.1f,f,%.2f,M,%.1f,F", address, metres / METRES_A_FOOT,
                                                metres, metres / METRES_A_FATHOM));
}

}  // namespace

size_t nmea_dpt(double below_transducer_m, double offset_m, double range_m, char* text, size_t size)
{
    char depth[NMEA_SENTENCE_MAX] = "", range[NMEA_SENTENCE_MAX] = "";
    if (!std::isfinite(offset_m) || (is_depth(below_transducer_m) && !number_text(below_transducer_m, 2, depth)) ||
        (is_depth(range_m) && !number_text(range_m, 0, range))) {
        return 0;
    }
    return finish_sentence(text, size, snprintf(text, size, "$SDDPT,%s,%.2f,%s", depth, offset_m, range));
}

size_t nmea_dbt(double below_transducer_m, char* text, size_t size)
{
    return feet_metres_fathoms("SDDBT", below_transducer_m, text, size);
}

size_t nmea_dbs(double below_surface_m, char* text, size_t size)
{
    return feet_metres_fathoms("SDDBS", below_surface_m, text, size);
}

size_t nmea_angle_fields(double degrees, int degree_digits, const char* hemispheres, char* text, size_t size)
{
    const long long STEPS_A_MINUTE = 10000;
    const long long STEPS_A_DEGREE = 60 * STEPS_A_MINUTE;
    long long steps = std::llround(std::fabs(degrees) * static_cast<double>(STEPS_A_DEGREE));
    int written = snprintf(text, size, "%0*lld%02lld.%04lld,%c", degree_digits, steps / STEPS_A_DEGREE,
                           steps % STEPS_A_DEGREE / STEPS_A_MINUTE, steps % STEPS_A_MINUTE,
                           hemispheres[degrees < 0 && steps > 0]);
    return written > 0 && static_cast<size_t>(written) < size ? static_cast<size_t>(written) : 0;
}

namespace {

// The fields every fix sentence starts with: UTC time, latitude and longitude; false for angles not finite.
bool fix_fields(const NmeaFixOut* fix, char clock[16], char latitude[NMEA_ANGLE_FIELDS_SIZE],
                char longitude[NMEA_ANGLE_FIELDS_SIZE])
{
    const CivilTime& t = fix->utc;
    snprintf(clock, 16, "%02d%02d%02d.%02d", t.hour % 100, t.minute % 100, t.second % 100, t.millisecond / 10 % 100);
    return std::isfinite(fix->latitude) && std::isfinite(fix->longitude) &&
           nmea_angle_fields(fix->latitude, LATITUDE_DEGREE_DIGITS, "NS", latitude, NMEA_ANGLE_FIELDS_SIZE) > 0 &&
           nmea_angle_fields(fix->longitude, LONGITUDE_DEGREE_DIGITS, "EW", longitude, NMEA_ANGLE_FIELDS_SIZE) > 0;
}

// RMC's mode letter of a GGA quality; 'N' for none.
char rmc_mode(int quality)
{
    for (const ModeName& known : RMC_MODES) {
        if (quality > 0 && quality < GGA_QUALITY_COUNT && strcmp(known.name, GGA_QUALITY[quality]) == 0) {
            return known.letter;
        }
    }
    return 'N';
}

}  // namespace

size_t nmea_gga(const NmeaFixOut* fix, char* text, size_t size)
{
    char clock[16], latitude[NMEA_ANGLE_FIELDS_SIZE], longitude[NMEA_ANGLE_FIELDS_SIZE];
    if (!fix_fields(fix, clock, latitude, longitude)) return 0;
    return finish_sentence(text, size,
                           snprintf(text, size, "$GPGGA,%s,%s,%s,%d,%02d,%.1f,%.1f,M,%.1f,M,,", clock, latitude,
                                    longitude, fix->quality, fix->satellites, fix->dilution, fix->altitude_m,
                                    fix->geoid_separation_m));
}

size_t nmea_rmc(const NmeaFixOut* fix, char* text, size_t size)
{
    char clock[16], latitude[NMEA_ANGLE_FIELDS_SIZE], longitude[NMEA_ANGLE_FIELDS_SIZE];
    if (!fix_fields(fix, clock, latitude, longitude)) return 0;
    const CivilTime& t = fix->utc;
    return finish_sentence(text, size,
                           snprintf(text, size, "$GPRMC,%s,%c,%s,%s,%.1f,%.1f,%02d%02d%02d,,,%c", clock,
                                    fix->quality > 0 ? 'A' : 'V', latitude, longitude, fix->speed_knots,
                                    fix->course_degrees, t.day % 100, t.month % 100, t.year % 100,
                                    rmc_mode(fix->quality)));
}

namespace {

constexpr long MS_A_DAY = 86400000L;

// A heading, roll, pitch or heave field: "%.2f" (signed where asked), empty when not given; false when given
// but outside -limit to limit (0 to limit for a heading).
bool attitude_field(bool given, double value, double low, double limit, const char* format, char field[16])
{
    field[0] = 0;
    if (!given) return true;
    if (!std::isfinite(value) || value < low || value > limit) return false;
    snprintf(field, 16, format, value);
    return true;
}

}  // namespace

size_t nmea_pashr(const NmeaAttitude* attitude, char* text, size_t size)
{
    const NmeaAttitude& a = *attitude;
    char heading[16], roll[16], pitch[16], heave[16];
    if (a.utc_ms_of_day < 0 || a.utc_ms_of_day >= MS_A_DAY ||
        !attitude_field(a.has_heading, a.heading_degrees, 0.0, 360.0, "%.2f", heading) ||
        !attitude_field(a.has_roll, a.roll_degrees, -ATTITUDE_ANGLE_MAX, ATTITUDE_ANGLE_MAX, "%+.2f", roll) ||
        !attitude_field(a.has_pitch, a.pitch_degrees, -ATTITUDE_ANGLE_MAX, ATTITUDE_ANGLE_MAX, "%+.2f", pitch) ||
        !attitude_field(a.has_heave, a.heave_m, -HEAVE_MAX_M, HEAVE_MAX_M, "%+.2f", heave)) {
        return 0;
    }
    long ms = a.utc_ms_of_day;
    return finish_sentence(text, size,
                           snprintf(text, size, "$PASHR,%02ld%02ld%02ld.%03ld,%s,T,%s,%s,%s,0.050,0.050,0.100,1,1",
                                    ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000, heading, roll, pitch,
                                    heave));
}

size_t nmea_hdt(double heading_degrees, char* text, size_t size)
{
    char heading[16];
    if (!attitude_field(true, heading_degrees, 0.0, 360.0, "%.2f", heading)) return 0;
    return finish_sentence(text, size, snprintf(text, size, "$HEHDT,%s,T", heading));
}
