#include "tools/qkvmap/map_files.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

namespace {

const char DEPTH_FIELD[] = "depth";
constexpr double NORTH_STEP_DEG = 0.001;  // of latitude, to find north by
constexpr int64_t GDAL_CACHE_BYTES = 64 << 20;  // each block of a grid is read once: a cache gains nothing

// GDAL's last error, or what was being done where it said none.
void say(char reason[MAP_REASON_SIZE], const char* doing)
{
    const char* said = CPLGetLastErrorMsg();
    snprintf(reason, MAP_REASON_SIZE, "%s", said != nullptr && said[0] != 0 ? said : doing);
}

GDALRasterBandH band_named(GDALDatasetH dataset, const char* name)
{
    for (int i = 1; i <= GDALGetRasterCount(dataset); ++i) {
        GDALRasterBandH band = GDALGetRasterBand(dataset, i);
        if (strcmp(GDALGetDescription(band), name) == 0) return band;
    }
    return nullptr;
}

// The grid's place and scale: north up, in a projected system.
bool georeferenced(MapGrid* grid, char reason[MAP_REASON_SIZE])
{
    GDALDatasetH dataset = grid->dataset;
    if (GDALGetGeoTransform(dataset, grid->transform) != CE_None) {
        snprintf(reason, MAP_REASON_SIZE, "it has no geotransform: where its cells are is unknown");
        return false;
    }
    const double* t = grid->transform;
    if (t[2] != 0 || t[4] != 0 || !(t[1] > 0) || !(t[5] < 0)) {
        snprintf(reason, MAP_REASON_SIZE, "its rows do not run west to east from the north: a rotated or "
                                          "flipped grid is not drawn");
        return false;
    }
    OGRSpatialReferenceH crs = GDALGetSpatialRef(dataset);
    if (crs == nullptr || !OSRIsProjected(crs)) {
        snprintf(reason, MAP_REASON_SIZE, crs == nullptr ? "it has no coordinate system"
                                                         : "its coordinate system is not projected: no metres");
        return false;
    }
    grid->crs = OSRClone(crs);
    OSRSetAxisMappingStrategy(grid->crs, OAMS_TRADITIONAL_GIS_ORDER);
    grid->metres_per_unit = OSRGetLinearUnits(crs, nullptr);
    return true;
}

OGRCoordinateTransformationH transform_of(OGRSpatialReferenceH from, OGRSpatialReferenceH to)
{
    CPLErrorReset();
    return OCTNewCoordinateTransformation(from, to);
}

// A line's points from the grid's coordinates to the canvas's pixels (their centres at .5).
int to_pixels(OGRGeometryH line, const MapGrid* grid, const MapLayout* layout, std::vector<double>* xy)
{
    int points = OGR_G_GetPointCount(line);
    xy->resize(2 * static_cast<size_t>(points));
    const double* t = grid->transform;
    for (int i = 0; i < points; ++i) {
        double x = OGR_G_GetX(line, i), y = OGR_G_GetY(line, i);
        (*xy)[2 * i] = layout->map_x + (x - t[0]) / t[1] * layout->pixels_per_cell - 0.5;
        (*xy)[2 * i + 1] = layout->map_y + (y - t[3]) / t[5] * layout->pixels_per_cell - 0.5;
    }
    return points;
}

struct LineDrawing {
    const MapGrid* grid;
    const MapLayout* layout;
    MapCanvas* canvas;
    MapLabels* labels;
    std::vector<double> xy;  // one line's pixels, kept from line to line
};

// A geometry's lines (a line, a multi-line, a polygon's rings), drawn and labelled.
void draw_geometry(LineDrawing* drawing, OGRGeometryH geometry, bool has_depth, double depth)
{
    int parts = OGR_G_GetGeometryCount(geometry);
    if (parts > 0) {
        for (int i = 0; i < parts; ++i) draw_geometry(drawing, OGR_G_GetGeometryRef(geometry, i), has_depth, depth);
        return;
    }
    int points = to_pixels(geometry, drawing->grid, drawing->layout, &drawing->xy);
    const double* xy = drawing->xy.data();
    for (int i = 1; i < points; ++i) {
        map_line(drawing->canvas, drawing->layout, xy[2 * i - 2], xy[2 * i - 1], xy[2 * i], xy[2 * i + 1], MAP_CONTOUR);
    }
    if (has_depth) map_label_line(drawing->labels, drawing->layout, xy, points, depth);
}

// One layer's lines; -1 with the reason when its system cannot be brought to the grid's.
long draw_layer(LineDrawing* drawing, OGRLayerH layer, int depth_field, char reason[MAP_REASON_SIZE])
{
    OGRSpatialReferenceH own = OGR_L_GetSpatialRef(layer);
    OGRSpatialReferenceH from = own != nullptr ? OSRClone(own) : OSRNewSpatialReference(nullptr);
    if (own == nullptr) OSRSetWellKnownGeogCS(from, "WGS84");  // GeoJSON's own
    OSRSetAxisMappingStrategy(from, OAMS_TRADITIONAL_GIS_ORDER);
    OGRCoordinateTransformationH transform = transform_of(from, drawing->grid->crs);
    OSRDestroySpatialReference(from);
    if (transform == nullptr) {
        say(reason, "its coordinate system cannot be brought to the grid's");
        return -1;
    }
    long drawn = 0;
    OGR_L_ResetReading(layer);
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
        OGRGeometryH geometry = OGR_F_GetGeometryRef(feature);
        if (geometry != nullptr && OGR_G_Transform(geometry, transform) == OGRERR_NONE) {
            bool has_depth = OGR_F_IsFieldSetAndNotNull(feature, depth_field) != 0;
            draw_geometry(drawing, geometry, has_depth, has_depth ? OGR_F_GetFieldAsDouble(feature, depth_field) : 0);
            ++drawn;
        }
        OGR_F_Destroy(feature);
    }
    OCTDestroyCoordinateTransformation(transform);
    return drawn;
}

}  // namespace

void map_gdal_start()
{
    GDALAllRegister();
    GDALSetCacheMax64(GDAL_CACHE_BYTES);
    CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");  // no .aux.xml beside the grid or the picture
    OSRSetPROJEnableNetwork(FALSE);
    CPLSetErrorHandler(CPLQuietErrorHandler);      // what GDAL says is said once, as the reason
}

bool map_grid_open(const char* path, MapBand band, MapGrid* grid, char reason[MAP_REASON_SIZE])
{
    *grid = MapGrid{};
    CPLErrorReset();
    grid->dataset = GDALOpenEx(path, GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR, nullptr, nullptr,
                               nullptr);
    if (grid->dataset == nullptr) {
        say(reason, "GDAL reads no grid there");
        return false;
    }
    grid->band = band_named(grid->dataset, MAP_BAND_NAMES[band]);
    if (grid->band == nullptr) {
        snprintf(reason, MAP_REASON_SIZE, "it has no band named %s (a grid of qkvdump --grid has mean, shoalest, "
                                          "count and std)", MAP_BAND_NAMES[band]);
        return false;
    }
    if (!georeferenced(grid, reason)) return false;
    grid->columns = GDALGetRasterXSize(grid->dataset);
    grid->rows = GDALGetRasterYSize(grid->dataset);
    const char* reference = GDALGetMetadataItem(grid->dataset, "DEPTH_REFERENCE", nullptr);
    snprintf(grid->reference, sizeof grid->reference, "%s", reference != nullptr ? reference : "");
    double range[2] = {NAN, NAN};
    CPLErrorReset();
    if (GDALComputeRasterMinMax(grid->band, FALSE, range) != CE_None || !std::isfinite(range[0]) ||
        !std::isfinite(range[1])) {
        snprintf(reason, MAP_REASON_SIZE, "its %s band holds no depth", MAP_BAND_NAMES[band]);
        return false;
    }
    grid->shoalest = range[0];
    grid->deepest = range[1];
    return true;
}

void map_grid_close(MapGrid* grid)
{
    if (grid->crs != nullptr) OSRDestroySpatialReference(grid->crs);
    if (grid->dataset != nullptr) GDALClose(grid->dataset);
    *grid = MapGrid{};
}

bool map_grid_read(const MapGrid* grid, const MapLayout* layout, float* depths, char reason[MAP_REASON_SIZE])
{
    GDALRasterIOExtraArg extra;
    INIT_RASTERIO_EXTRA_ARG(extra);
    extra.eResampleAlg = GRIORA_NearestNeighbour;
    CPLErrorReset();
    if (GDALRasterIOEx(grid->band, GF_Read, 0, 0, grid->columns, grid->rows, depths, layout->map_width,
                       layout->map_height, GDT_Float32, 0, 0, &extra) != CE_None) {
        say(reason, "its cells cannot be read");
        return false;
    }
    int has_no_data = 0;
    float no_data = static_cast<float>(GDALGetRasterNoDataValue(grid->band, &has_no_data));
    long count = static_cast<long>(layout->map_width) * layout->map_height;
    for (long i = 0; has_no_data && !std::isnan(no_data) && i < count; ++i) {
        if (depths[i] == no_data) depths[i] = NAN;
    }
    return true;
}

double map_grid_north(const MapGrid* grid)
{
    const double* t = grid->transform;
    double x = t[0] + t[1] * grid->columns / 2.0, y = t[3] + t[5] * grid->rows / 2.0, z = 0;
    OGRSpatialReferenceH geographic = OSRCloneGeogCS(grid->crs);
    if (geographic == nullptr) return NAN;
    OSRSetAxisMappingStrategy(geographic, OAMS_TRADITIONAL_GIS_ORDER);
    OGRCoordinateTransformationH to_geographic = transform_of(grid->crs, geographic);
    OGRCoordinateTransformationH to_grid = transform_of(geographic, grid->crs);
    double north_x = x, north_y = y;
    bool known = to_geographic != nullptr && to_grid != nullptr && OCTTransform(to_geographic, 1, &north_x, &north_y, &z);
    north_y += NORTH_STEP_DEG;
    known = known && OCTTransform(to_grid, 1, &north_x, &north_y, &z);
    if (to_geographic != nullptr) OCTDestroyCoordinateTransformation(to_geographic);
    if (to_grid != nullptr) OCTDestroyCoordinateTransformation(to_grid);
    OSRDestroySpatialReference(geographic);
    return known ? atan2(north_x - x, north_y - y) : NAN;
}

bool map_contours_draw(const char* path, const MapGrid* grid, const MapLayout* layout, MapCanvas* canvas,
                       MapLabels* labels, long* count, char reason[MAP_REASON_SIZE])
{
    CPLErrorReset();
    GDALDatasetH lines =
        GDALOpenEx(path, GDAL_OF_VECTOR | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR, nullptr, nullptr, nullptr);
    if (lines == nullptr) {
        say(reason, "OGR reads no lines there");
        return false;
    }
    LineDrawing drawing = {grid, layout, canvas, labels, {}};
    bool drawn = true, depths = false, undepthed = false;
    *count = 0;
    for (int i = 0; i < GDALDatasetGetLayerCount(lines) && drawn; ++i) {
        OGRLayerH layer = GDALDatasetGetLayer(lines, i);
        int field = OGR_FD_GetFieldIndex(OGR_L_GetLayerDefn(layer), DEPTH_FIELD);
        // GeoJSON holding no line (no contour at the depths asked for) names no field either: nothing to draw.
        if (field < 0) undepthed = undepthed || OGR_L_GetFeatureCount(layer, TRUE) > 0;
        if (field < 0) continue;
        depths = true;
        long layer_count = draw_layer(&drawing, layer, field, reason);
        drawn = layer_count >= 0;
        if (drawn) *count += layer_count;
    }
    GDALClose(lines);
    if (drawn && !depths && undepthed) {
        snprintf(reason, MAP_REASON_SIZE, "it has no layer with a %s field", DEPTH_FIELD);
    }
    return drawn && (depths || !undepthed);
}

bool map_png_write(const MapCanvas* canvas, const char* path, char reason[MAP_REASON_SIZE])
{
    CPLErrorReset();
    GDALDatasetH memory = GDALCreate(GDALGetDriverByName("MEM"), "", canvas->width, canvas->height, 3, GDT_Byte,
                                     nullptr);
    bool written = memory != nullptr &&
                   GDALDatasetRasterIO(memory, GF_Write, 0, 0, canvas->width, canvas->height, canvas->pixels,
                                       canvas->width, canvas->height, GDT_Byte, 3, nullptr, 3, 3L * canvas->width,
                                       1) == CE_None;
    GDALDatasetH png = written ? GDALCreateCopy(GDALGetDriverByName("PNG"), path, memory, FALSE, nullptr, nullptr,
                                                nullptr)
                               : nullptr;
    // The file is whole only once closed: a full disk shows there, as an error said.
    if (png != nullptr) GDALClose(png);
    written = png != nullptr && CPLGetLastErrorType() < CE_Failure;
    if (memory != nullptr) GDALClose(memory);
    if (!written) say(reason, "the picture cannot be written");
    return written;
}
