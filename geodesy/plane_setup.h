// How a run's two point lists reach the frame its model is fitted in, and how a fitted point comes
// back: one value that every conversion of a run and the record's PROJ pipeline go through.
#pragma once

#include <string>

#include "common/point_list.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/proj_operation.h"

namespace Quorvane {

/// A local grid as a survey table gives it (--grid): a transverse Mercator plane of the tool's
/// own series with a scale on its central meridian, an origin latitude, a false origin and a
/// projection surface raised above its ellipsoid.
struct GridSpec {
  NamedEllipsoid ellipsoid;        // of the grid
  double meridian = 0.0;           // central meridian, decimal degrees
  double falseEasting = 500000.0;  // metres; a zone number in front for a prefixed grid
  double falseNorthing = 0.0;      // metres
  double height = 0.0;             // projection surface above the ellipsoid, metres
  double scale = 1.0;              // on the central meridian, no unit
  double originLatitude = 0.0;     // decimal degrees; the northing counts from its arc
};

/// Where a coordinate reference system is meant to be used, as PROJ's database gives it: a box of
/// longitudes and latitudes, degrees (`west` above `east` for a box across ±180°), and its name.
struct AreaOfUse {
  bool known = false;  // false for a CRS PROJ gives none for (a PROJ string)
  double west = -180.0, south = -90.0, east = 180.0, north = 90.0;
  std::string name;  // "Czechia; Slovakia."
};

/// The part of an area of use's width and height that WithinArea adds on each side: a CRS
/// serves somewhat beyond the box its database gives, and a point farther out is most often a
/// mistake (coordinates swapped, another CRS).
constexpr double kAreaMargin = 0.1;

/// Whether a point's longitude and latitude (degrees) lie within `area` widened on each side by
/// kAreaMargin of its extent (across ±180° where it spans them); true for an area not known,
/// false for a point that is not finite.
bool WithinArea(const AreaOfUse& area, const Point3& geographic);

/// What a point list's three numbers are.
struct ListSystem {
  enum class Kind {
    Geographic,  // longitude, latitude (decimal degrees, east and north positive), height (m)
    Grid,        // easting, northing, height, in `unit`
    Geocentric,  // X, Y, Z, metres
  };
  Kind kind = Kind::Geographic;
  /// Of its longitudes and latitudes: for a grid the grid's, for geocentric coordinates the
  /// datum's (what a geographic point of it is on).
  NamedEllipsoid ellipsoid = Wgs84();
  /// A grid of the tool's own series (--grid) when `projection` is empty.
  GridSpec grid;
  /// A grid of PROJ's: its projection as a PROJ string, without units and, unless
  /// `projectionFigure`, without ellipsoid ("+proj=tmerc +lat_0=49 +lon_0=-2 +k=0.9996012717
  /// +x_0=400000 +y_0=-100000"); a south-oriented grid keeps its axes, westing first
  /// ("+axis=wsu").
  std::string projection;
  /// Whether `projection` names the figure it projects on itself, whatever the list's ellipsoid:
  /// a sphere (Web Mercator's "+a=6378137 +b=6378137"), onto which any datum's latitudes are
  /// taken as they are, or an ellipsoid other than its datum's.
  bool projectionFigure = false;
  /// Metres per unit of its grid coordinates (a grid in US survey feet: 1200/3937).
  double unit = 1.0;
  /// PROJ's name for the unit, for a pipeline's unitconvert ("us-ft", "ft"); empty for metres.
  std::string unitName;
  /// Metres per unit of its heights, and PROJ's name for it: a grid's heights are in its unit,
  /// unless its CRS has a height axis of its own (a compound CRS's vertical part).
  double heightUnit = 1.0;
  std::string heightUnitName;
  /// For a system named as a CRS through PROJ: "EPSG:27700" where it has a code, else empty;
  /// its PROJJSON then; and its name.
  std::string crsCode;
  std::string crsJson;
  std::string crsName;
  /// The two-dimensional geographic CRS of the list's datum as PROJ takes it (a named CRS's as
  /// PROJJSON, with its +towgs84 where it is bound to one; "EPSG:4326" for a list left on WGS 84),
  /// between which and another PROJ finds the operation that carries longitudes and latitudes
  /// from one datum to the other; empty where the datum is unknown (an ellipsoid given alone).
  std::string datumCrs;
  /// For a system named as a CRS through PROJ, where it is used.
  AreaOfUse area;
};

/// The operation of PROJ's that carries the source's longitudes and latitudes to the
/// destination's datum before the plane: the one cs2cs uses between the two lists' datumCrs at
/// the destination points' centre.
struct DatumShift {
  std::string name;      // PROJ's: "Inverse of S-JTSK to WGS 84 (5)"; empty for none
  double accuracy = -1;  // metres, as PROJ's database states it; negative where it states none
  /// PROJ knows no transformation between the datums and only keeps the longitudes and latitudes
  /// (its ballpark offset): the fit then takes up the whole datum change.
  bool ballpark = false;
  /// Its PROJ steps, " +step …" each, longitude and latitude in radians in and out, heights kept.
  std::string steps;
};

/// The plane set-up of a run: each list's system, the frame (a plane, or geocentric space), and,
/// for a plane, the plane itself.
struct PlaneSetup {
  enum class Frame { Plane, Geocentric };

  ListSystem source;
  ListSystem destination;
  Frame frame = Frame::Plane;
  /// For a plane frame, the destination's grid is the plane (its points are taken as they are);
  /// otherwise the plane is the tool's own series centred on the destination points, which also
  /// maps the points of a geocentric frame for the picture.
  bool destinationOnGrid = false;
  // The plane of the tool's own series: centred (no false origin, no projection height, scale
  // 1), or the destination's --grid.
  double centralMeridian = 0.0;  // λ0, decimal degrees
  /// φ0, decimal degrees; within 1e-6° of 0 the northing counts from the equator.
  double originLatitude = 0.0;
  double falseEasting = 0.0;      // metres
  double falseNorthing = 0.0;     // metres
  double projectionHeight = 0.0;  // metres; the surface of both lists' projections
  double scale = 1.0;             // on the central meridian
  /// A geoid model grid PROJ reads (a name PROJ looks up where it keeps its grids, or a path):
  /// each source height h becomes h − N, N the grid's undulation at the source point (PROJ's
  /// vgridshift). Empty for none.
  std::string geoid;
  /// The folder a relative `geoid` is read from, when it is not written as an absolute path
  /// (GeoidGridFile); empty otherwise.
  std::string geoidFolder;
  /// Whether the source is first carried to the destination's datum by PROJ (--datum-shift),
  /// in a plane frame whose destination is a named CRS: `Auto` where the destination's
  /// projection takes no ellipsoid but its own (Krovak's always Bessel 1841), `Proj` always,
  /// `None` never.
  enum class DatumChoice { Auto, Proj, None };
  DatumChoice datumChoice = DatumChoice::Auto;
  /// What Complete found: the operation it carries the source with (`name` empty for none),
  /// and whether the destination's projection ignores the source's ellipsoid, which the source
  /// points then are not projected on.
  DatumShift datumShift;
  bool projectionIgnoresSourceEllipsoid = false;

  /// Completes the set-up from what the options set (each list's system, the frame, the geoid,
  /// the datum choice) and the paired destination points as given, in one call: a plane frame
  /// whose destination is a grid takes that grid as its plane; PROJ's operations are made where a
  /// conversion needs them, the datum shift among them where `datumChoice` asks for one and both
  /// lists' datums are known; and otherwise the plane of the tool's series is centred on the
  /// destination points (the mean of their longitudes and latitudes, taken on the circle when
  /// they lie either side of ±180°; NaN for none). False with `problem` saying why when PROJ
  /// cannot make an operation.
  bool Complete(const PointList& destinationGiven, std::string& problem);
  /// Whether a conversion goes through PROJ.
  bool UsesProj() const;

  /// A source point, as given, in the frame: easting, northing (metres, false origin included)
  /// and height (less the geoid's undulation with a geoid; after the datum shift, on the
  /// destination's ellipsoid), or geocentric X, Y, Z.
  Point3 SourceToFrame(const Point3& given) const;
  /// A destination point, as given, in the frame: through its own system like a source point,
  /// or as it is (in metres) when its grid is the plane.
  Point3 DestinationToFrame(const Point3& given) const;
  /// A point of the frame as the destination list gives its points.
  Point3 FrameToDestination(const Point3& framePoint) const;
  /// A point of the frame as longitude, latitude (degrees) and height (metres) on the
  /// destination's ellipsoid.
  Point3 FrameToDestinationGeographic(const Point3& framePoint) const;
  /// A destination point, as given, as longitude, latitude and height on its ellipsoid.
  Point3 DestinationGeographic(const Point3& given) const;
  /// A source point, as given, as longitude, latitude and height on its ellipsoid.
  Point3 SourceGeographic(const Point3& given) const;
  /// Where the picture draws a destination point, metres: its plane coordinates, or for a
  /// geocentric frame its grid coordinates or its place in the centred plane.
  Point3 MapPoint(const Point3& destinationGiven) const;

  /// How far a geographic point is from where the tool's own series hold their stated accuracy
  /// (within DomainLongitude of its latitude from the central meridian): 0 inside, otherwise the
  /// excess in longitude, or in latitude past a pole, degrees; NaN for a point that is not
  /// finite. 0 for a frame the series do not make (PROJ's grids, geocentric space).
  double OutsideDomain(const Point3& geographic) const;
  /// The central meridian OutsideDomain measures from, degrees.
  double DomainMeridian() const;

  /// The PROJ steps from a source point as given to the frame, and from the frame to a
  /// destination point as given, each " +step …", numbers with 17 significant digits: the
  /// record's pipeline is "+proj=pipeline" + SourceSteps() + the model's steps +
  /// DestinationSteps(). The tool's own series are written as PROJ's +approx transverse
  /// Mercator, which differs from them by the truncated meridian arc (Accuracy in the README).
  /// Empty when a number is not finite.
  std::string SourceSteps() const;
  std::string DestinationSteps() const;

 private:
  void UseGrid(const GridSpec& grid);
  bool Prepare(std::string& problem);
  bool PreparePlanes(std::string& problem);
  bool ChooseDatumShift(const Point3& centre, std::string& problem);
  Point3 DestinationCentre(const PointList& destinationGiven) const;
  const Ellipsoid& Figure(const ListSystem& list) const;
  Point3 ToGeographic(const ListSystem& list, const Point3& given, bool source) const;
  Point3 FromGeographic(const ListSystem& list, const Point3& geographic, bool source) const;
  Point3 GeographicToFrame(const ListSystem& list, const Point3& geographic, bool source) const;
  Point3 FrameToGeographic(const ListSystem& list, const Point3& framePoint, bool source) const;
  bool OwnPlane() const;

  // PROJ's operations, degrees in or out: each list's grid (geographic → grid, metres), its
  // geocentric conversion (geographic → X, Y, Z), and the frame's plane on each list's ellipsoid.
  ProjOperation sourceGrid_, destinationGrid_;
  ProjOperation sourceCart_, destinationCart_;
  ProjOperation sourcePlane_, destinationPlane_;
  ProjOperation geoid_;  // degrees in and out, the height less the undulation
  ProjOperation datum_;  // degrees in and out: the datum shift
};

/// A geoid grid as PROJ finds it.
struct GeoidGrid {
  /// The file PROJ reads: absolute where it found it among its own folders or was given an
  /// absolute path, relative to the current folder where it found it there.
  std::string file;
  /// The grid as the run names it to PROJ and in the record: as given for a name PROJ looks up
  /// in its own folders and for an absolute path; the absolute path of a file found relative to
  /// the current folder, unless that holds a comma or a double quote, which PROJ's text cannot
  /// carry: then as given, and `folder` is the current folder it is relative to.
  std::string name;
  std::string folder;
};

/// Looks the geoid grid `grid` up as vgridshift does; false with `problem` when PROJ cannot read
/// it.
bool FindGeoidGrid(const std::string& grid, GeoidGrid& found, std::string& problem);

/// The local east, north and up unit vectors at longitude, latitude (degrees) on an ellipsoid.
LocalAxes AxesAt(const Point3& geographic);

/// The reach of the forward and inverse series that the accuracy figures cover: kDomainLongitude
/// degrees of longitude from the central meridian within kDomainLatitude degrees of the equator.
constexpr double kDomainLongitude = 6.0;
constexpr double kDomainLatitude = 80.0;

/// The series' reach in longitude from the central meridian at `latitude` (degrees): 6° within
/// ±80°; poleward, where the error that grows away from the meridian shrinks with cos φ, as far
/// as it stays within 1 mm against the exact transverse Mercator (6.25° at 80°, 8.3° at 89°,
/// 24° within 0.0001° of a pole; docs/accuracy.md). Every longitude at a pole itself; NaN for a
/// latitude that is not finite or beyond ±90°.
double DomainLongitude(double latitude);

}  // namespace Quorvane
