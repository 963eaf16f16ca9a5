#include "grid/grid_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr GIntBig GDAL_CACHE_BYTES = 64LL << 20;  // GDAL's blocks in memory while a file is written

class GridViewBand : public GDALRasterBand {
public:
    GridViewBand(GridView* view, int number, GridBand band)
    {
        poDS = view;
        nBand = number;
        eDataType = GDT_Float32;
        nBlockXSize = GRID_VIEW_BLOCK;
        nBlockYSize = GRID_VIEW_BLOCK;
        nRasterXSize = view->GetRasterXSize();
        nRasterYSize = view->GetRasterYSize();
        band_ = band;
    }

    CPLErr IReadBlock(int block_x, int block_y, void* data) override;
    CPLErr IRasterIO(GDALRWFlag flag, int x, int y, int width, int height, void* data, int buffer_width,
                     int buffer_height, GDALDataType type, GSpacing pixel_step, GSpacing line_step,
                     GDALRasterIOExtraArg* extra) override;
    double GetNoDataValue(int* has) override
    {
        if (has != nullptr) *has = TRUE;
        return view()->kind == GRID_VIEW_BAG ? BAG_NO_DATA : NAN;
    }
    const char* GetUnitType() override { return band_ == GRID_BAND_COUNT ? "" : "metre"; }

private:
    const GridView* view() const { return static_cast<const GridView*>(poDS); }
    void read_row(int row, int column, int width, float* values) const;
    void read_corner_row(int row, int column, int width, float* values) const;
    void read_any_row(int row, int column, int width, float* values) const;
    GridBand band_;
};

// The grid row of a row of the raster, whose first row is the northernmost.
int64_t grid_row_of(const GridExtent* extent, int64_t raster_row)
{
    return extent->row_first + extent->height - 1 - raster_row;
}

float lesser(float a, float b)
{
    if (std::isnan(a)) return b;
    return std::isnan(b) || a < b ? a : b;
}

void GridViewBand::read_row(int row, int column, int width, float* values) const
{
    const GridView* seen = view();
    int64_t first = seen->extent.column_first + column;
    int64_t at = grid_row_of(&seen->extent, row);
    grid_row(seen->grid, band_, at, first, width, values);
    if (seen->kind != GRID_VIEW_BAG) return;
    for (int i = 0; i < width; ++i) {
        float value = band_ == GRID_BAND_MEAN ? -values[i] : values[i];
        values[i] = std::isnan(value) ? static_cast<float>(BAG_NO_DATA) : value;
    }
}

// A corner takes the shoalest of the (up to four) cells that meet there. The
// corners' raster has its pixel centres on the cells' corners: its corner k
// across lies between the cells' columns k - 1 and k, its corner k down
// between the cells' rows k - 1 and k counted from the north.
void GridViewBand::read_corner_row(int row, int column, int width, float* values) const
{
    const GridView* seen = view();
    float above[GRID_VIEW_BLOCK + 1];
    float below[GRID_VIEW_BLOCK + 1];
    for (int done = 0; done < width; done += GRID_VIEW_BLOCK) {
        int part = std::min(GRID_VIEW_BLOCK, width - done);
        int64_t first = seen->extent.column_first + column + done - 1;
        grid_row(seen->grid, GRID_BAND_SHOALEST, grid_row_of(&seen->extent, row - 1), first, part + 1, above);
        grid_row(seen->grid, GRID_BAND_SHOALEST, grid_row_of(&seen->extent, row), first, part + 1, below);
        for (int i = 0; i < part; ++i) {
            values[done + i] = lesser(lesser(above[i], above[i + 1]), lesser(below[i], below[i + 1]));
        }
    }
}

void GridViewBand::read_any_row(int row, int column, int width, float* values) const
{
    if (view()->kind == GRID_VIEW_CORNERS) {
        read_corner_row(row, column, width, values);
    } else {
        read_row(row, column, width, values);
    }
}

CPLErr GridViewBand::IReadBlock(int block_x, int block_y, void* data)
{
    float* values = static_cast<float*>(data);
    int column = block_x * GRID_VIEW_BLOCK;
    int width = std::min(GRID_VIEW_BLOCK, nRasterXSize - column);
    std::fill(values, values + GRID_VIEW_BLOCK * GRID_VIEW_BLOCK, static_cast<float>(GetNoDataValue(nullptr)));
    for (int line = 0; line < GRID_VIEW_BLOCK; ++line) {
        int row = block_y * GRID_VIEW_BLOCK + line;
        if (row >= nRasterYSize) break;
        read_any_row(row, column, width, values + line * GRID_VIEW_BLOCK);
    }
    return CE_None;
}

// Windows read at full resolution as Float32 rows go straight from the tiles
// into GDAL's buffer, past the block cache; anything else through the blocks.
CPLErr GridViewBand::IRasterIO(GDALRWFlag flag, int x, int y, int width, int height, void* data, int buffer_width,
                               int buffer_height, GDALDataType type, GSpacing pixel_step, GSpacing line_step,
                               GDALRasterIOExtraArg* extra)
{
    if (flag != GF_Read || width != buffer_width || height != buffer_height || type != GDT_Float32 ||
        pixel_step != static_cast<GSpacing>(sizeof(float))) {
        return GDALRasterBand::IRasterIO(flag, x, y, width, height, data, buffer_width, buffer_height, type,
                                         pixel_step, line_step, extra);
    }
    for (int line = 0; line < height; ++line) {
        read_any_row(y + line, x, width, reinterpret_cast<float*>(static_cast<GByte*>(data) + line * line_step));
    }
    return CE_None;
}

void catch_error(CPLErr level, CPLErrorNum number, const char* message)
{
    char* reason = static_cast<char*>(CPLGetErrorHandlerUserData());
    if (level >= CE_Failure && reason != nullptr && reason[0] == 0) {
        snprintf(reason, GRIDFILE_REASON_SIZE, "GDAL: %s (error %d)", message, number);
    }
}

}  // namespace

GridView::GridView(const Grid* seen, const GridExtent* seen_extent, GridViewKind view_kind)
    : grid(seen), extent(*seen_extent), kind(view_kind)
{
    grid_geotransform(grid, &extent, transform);
    nRasterXSize = static_cast<int>(extent.width);
    nRasterYSize = static_cast<int>(extent.height);
    if (kind == GRID_VIEW_CORNERS) {
        // Pixel centres on the cells' corners: half a cell out on every side.
        transform[0] -= grid->cell_m / 2;
        transform[3] += grid->cell_m / 2;
        ++nRasterXSize;
        ++nRasterYSize;
        SetBand(1, new GridViewBand(this, 1, GRID_BAND_SHOALEST));
        return;
    }
    int bands = kind == GRID_VIEW_BAG ? 2 : GRID_BANDS;
    for (int band = 0; band < bands; ++band) {
        GridBand value = kind == GRID_VIEW_BAG && band == 1 ? GRID_BAND_STD : static_cast<GridBand>(band);
        SetBand(band + 1, new GridViewBand(this, band + 1, value));
        GetRasterBand(band + 1)->SetDescription(GRID_BAND_NAMES[value]);
    }
}

bool GridView::set_crs(const char* wkt, char* reason)
{
    crs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (crs.importFromWkt(wkt) == OGRERR_NONE) return true;
    snprintf(reason, GRIDFILE_REASON_SIZE, "GDAL cannot read the grid's coordinate system");
    return false;
}

CPLErr GridView::GetGeoTransform(double* out)
{
    memcpy(out, transform, sizeof transform);
    return CE_None;
}

const OGRSpatialReference* GridView::GetSpatialRef() const
{
    return &crs;
}

void grid_gdal_start()
{
    static bool started;
    if (started) return;
    started = true;
    GDALAllRegister();
    GDALSetCacheMax64(GDAL_CACHE_BYTES);
    OSRSetPROJEnableNetwork(FALSE);
    // Nothing beside the file written: no .aux.xml under the temporary name.
    CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
}

GridGdalCall::GridGdalCall(char* caught, const GridDescription* asked)
    : reason(caught), description(asked), stopped(false)
{
    reason[0] = 0;
    CPLPushErrorHandlerEx(catch_error, reason);
}

GridGdalCall::~GridGdalCall()
{
    CPLPopErrorHandler();
}

bool GridGdalCall::succeeded(bool done, const char* what)
{
    if (stopped) {
        snprintf(reason, GRIDFILE_REASON_SIZE, "%s stopped before it was whole", what);
    } else if (!done && reason[0] == 0) {
        snprintf(reason, GRIDFILE_REASON_SIZE, "GDAL could not write %s", what);
    }
    return done && !stopped && reason[0] == 0;
}

int grid_gdal_progress(double, const char*, void* context)
{
    GridGdalCall* call = static_cast<GridGdalCall*>(context);
    const GridDescription* description = call->description;
    call->stopped = call->stopped || (description->carry_on != nullptr &&
                                      !description->carry_on(description->carry_on_context));
    return call->stopped ? FALSE : TRUE;
}
