#include "tools/qkvdump/export_reduce.h"

bool dump_reduce_begin(PingReduce* stage, const DumpOptions* options)
{
    const DumpReduction* r = &options->reduction;
    ReductionAsked asked = {r->settings, r->profile, r->water_level, r->edits};
    asked.settings.draft_m = options->draft_m;
    return ping_reduce_begin(stage, &asked, "qkvdump");
}

void export_reduction_of(const ExportPing* ping, int64_t tag, ReductionPing* reduced)
{
    const PingPosition* p = &ping->position;
    const PingMotion* m = &ping->motion;
    *reduced = ReductionPing{};
    reduced->tag = tag;
    reduced->file_name = ping->file_name;
    reduced->record = ping->record;
    reduced->time_known = ping->time_known;
    reduced->utc_ms = ping->utc_ms;
    reduced->has_bottom = ping->bottom.known || ping->bottom.dropped;
    reduced->distance_m = ping->bottom.distance_m;
    reduced->quality = ping->bottom.dropped ? ping->bottom.dropped_quality : ping->bottom.quality;
    reduced->dropped = ping->bottom.dropped;
    reduced->has_position = p->known;
    reduced->latitude = p->latitude;
    reduced->longitude = p->longitude;
    reduced->has_course = p->known && p->motion_known;
    reduced->speed_knots = p->speed_knots;
    reduced->course_degrees = p->course_degrees;
    reduced->has_heading = m->has_heading;
    reduced->heading_degrees = m->heading_degrees;
    reduced->has_heave = m->has_heave;
    reduced->heave_m = m->heave_m;
    reduced->has_height = m->has_height;
    reduced->fix_quality = m->has_height ? REDUCTION_RTK_QUALITY : 0;
    reduced->altitude_m = m->altitude_m;
    reduced->geoid_separation_m = m->geoid_separation_m;
}

void export_reduction_apply(const ReductionResult* judged, ExportPing* ping)
{
    ping->reduced = true;
    ping->reduction = *judged;
    ping->bottom.has_depth = judged->has_depth;
    ping->bottom.depth_m = judged->has_depth ? judged->depth_m : 0.0;
    if (ping->bottom.dropped) ping->bottom.quality = ping->bottom.dropped_quality;  // the reduction keeps the pick
    PingPosition* p = &ping->position;
    p->known = judged->has_position;
    if (judged->has_position) {
        p->latitude = judged->latitude;
        p->longitude = judged->longitude;
    }
}
