// The build without the netCDF library: --netcdf is refused before anything is read.
#include "tools/qkvdump/netcdf_export.h"

bool netcdf_supported()
{
    return false;
}

bool netcdf_begin(NetcdfOut* out, const char*, const NetcdfSource*)
{
    out->failed = true;
    return false;
}

void netcdf_add_ping(NetcdfOut*, const ExportPing*) {}

bool netcdf_finish(NetcdfOut* out)
{
    return !out->failed;
}
