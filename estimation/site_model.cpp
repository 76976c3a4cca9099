// The site calibration: a horizontal similarity and a height surface in the plane, two
// least-squares problems fitted apart in closed form (site_fit.h), each about the centroid
// (E0, N0) of the source points it fits:
//   (E', N') = (E0, N0) + t + scale · R(rz) · ((E, N) − (E0, N0)),
//   H' = H + tz + slopeNorth · (N − N0) + slopeEast · (E − E0).
// About the points' own centroid the shifts are what the site moved by, and their σ those of the
// fit, uncorrelated with the rotation and the slopes; about a grid's origin thousands of
// kilometres away they would carry the rotation and the slopes times that distance. Both parts
// have the same centroid unless --exclude or snooping leaves a pair out of one part only.
#include <memory>

#include "estimation/height_surface.h"
#include "estimation/model.h"
#include "estimation/model_support.h"
#include "estimation/site_fit.h"

namespace Quorvane {

namespace {

using namespace ModelSupport;

// The picture's title of the model: 点校正 (site calibration), 平面四参数 or 平面三参数 (the
// horizontal similarity with or without its scale), 高程拟合 (a fitted height plane) or 高程常数
// (a constant height shift), UTF-8, in full-width brackets.
constexpr char kSiteTitle[] = "\xE7\x82\xB9\xE6\xA0\xA1\xE6\xAD\xA3";  // 点校正
constexpr char kFourParameters[] =
    "\xE5\xB9\xB3\xE9\x9D\xA2\xE5\x9B\x9B\xE5\x8F\x82\xE6\x95\xB0";  // 平面四参数
constexpr char kThreeParameters[] =
    "\xE5\xB9\xB3\xE9\x9D\xA2\xE4\xB8\x89\xE5\x8F\x82\xE6\x95\xB0";  // 平面三参数
constexpr char kHeightPlane[] = "\xE9\xAB\x98\xE7\xA8\x8B\xE6\x8B\x9F\xE5\x90\x88";  // 高程拟合
constexpr char kHeightConstant[] =
    "\xE9\xAB\x98\xE7\xA8\x8B\xE5\xB8\xB8\xE6\x95\xB0";  // 高程常数
constexpr char kHeightQuadric[] =
    "\xE9\xAB\x98\xE7\xA8\x8B\xE6\x9B\xB2\xE9\x9D\xA2";  // 高程曲面

// Positions in the parameter table.
enum : std::size_t { kTx, kTy, kTz, kRz, kScale, kSlopeNorth, kSlopeEast, kQNN, kQNE, kQEE };

class SiteModel final : public TransformModel {
 public:
  SiteModel(const Model& model, const HeightChoice& choice)
      : fixScale_(model.fixScale),
        vertical_(model.vertical == Model::Vertical::None ? Model::Vertical::Plane
                                                          : model.vertical),
        choice_(choice) {
    parameters_ = PlaneSimilarityParameters();
    parameters_.push_back({"slopeNorth", "ppm", kPartsPerMillion, 3});
    parameters_.push_back({"slopeEast", "ppm", kPartsPerMillion, 3});
    // The quadric's terms in metres per square kilometre, their σ in millimetres.
    if (vertical_ == Model::Vertical::Quadric) {
      for (const char* name : {"qNN", "qNE", "qEE"}) {
        parameters_.push_back({name, "mm/km2", 1e3, 3});
      }
    }
    Component horizontal{"horizontal", ComponentLayout::Horizontal, {kTx, kTy, kRz}};
    if (!fixScale_) horizontal.parameters.push_back(kScale);
    Component vertical{"vertical", ComponentLayout::Vertical, {kTz}};
    if (vertical_ != Model::Vertical::Constant) {
      vertical.parameters.push_back(kSlopeNorth);
      vertical.parameters.push_back(kSlopeEast);
    }
    if (vertical_ == Model::Vertical::Quadric) {
      for (const std::size_t k : {kQNN, kQNE, kQEE}) vertical.parameters.push_back(k);
    }
    components_ = {horizontal, vertical};
  }

  const std::vector<ParameterInfo>& Parameters() const override { return parameters_; }
  const std::vector<Component>& Components() const override { return components_; }

  FitOutcome Fit(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                 ModelParameters& params, int) const override {
    FitOutcome outcome;
    params = ModelParameters{};
    params.reference = CentroidOf(pairs.source, {used[0]});
    params.heightReference = CentroidOf(pairs.source, {used[1]});
    params.reference.z = params.heightReference.z;
    FitComponent(0, pairs, used[0], params, outcome);
    FitComponent(1, pairs, used[1], params, outcome);
    outcome.usable = AllFinite(params);
    Summarise(pairs, used, params, outcome);
    return outcome;
  }

  bool FitComponent(std::size_t c, const FramePairs& pairs, const std::vector<bool>& used,
                    ModelParameters& params, FitOutcome& outcome) const override {
    if (params.values.size() != parameters_.size()) {
      params.values.assign(parameters_.size(), 0.0);
      params.values[kScale] = 1.0;
    }
    // Whether the part's pairs determine it is known from its closed form alone.
    outcome.determined.resize(2, false);
    outcome.notDetermined.resize(2);
    outcome.fixed.resize(2, 0);
    std::vector<double>& v = params.values;
    if (c == 0) {
      const HorizontalFit fit = FitHorizontal(pairs.source, pairs.destination, used, fixScale_,
                                              params.reference, pairs.precision);
      v[kTx] = fit.tx, v[kTy] = fit.ty, v[kRz] = fit.rz, v[kScale] = fit.scale;
      outcome.determined[0] = fit.determined;
      outcome.notDetermined[0] =
          fit.determined ? std::string()
                         : PlaneSimilarityNotDetermined("horizontal transform", CountOf(used));
      outcome.fixed[0] = fit.fixed;
    } else {
      const QuadricFit fit =
          FitHeightSurface(vertical_, pairs.source, pairs.destination, used,
                           params.heightReference, pairs.precision, outcome.notDetermined[1]);
      v[kTz] = fit.tz, v[kSlopeNorth] = fit.slopeNorth, v[kSlopeEast] = fit.slopeEast;
      if (vertical_ == Model::Vertical::Quadric) {
        v[kQNN] = fit.qNN, v[kQNE] = fit.qNE, v[kQEE] = fit.qEE;
      }
      outcome.determined[1] = fit.determined;
      outcome.fixed[1] = fit.fixed;
    }
    outcome.usable = AllFinite(params);
    return outcome.usable;
  }

  void Summarise(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                 const ModelParameters& params, FitOutcome& outcome) const override {
    const std::size_t h = CountOf(used[0]);
    const std::size_t v = CountOf(used[1]);
    outcome.summaryLine = "Site calibration, least squares in closed form: horizontal " +
                          std::to_string(h) + (h == 1 ? " pair" : " pairs") + ", vertical " +
                          std::to_string(v) + (v == 1 ? " pair" : " pairs");
    double sum = 0.0;
    for (std::size_t i = 0; i < pairs.source.size(); ++i) {
      const Point3 w = Apply(params, pairs.source[i], pairs.EpochOf(i));
      const Point3& q = pairs.destination[i];
      if (used[0][i]) sum += (w.x - q.x) * (w.x - q.x) + (w.y - q.y) * (w.y - q.y);
      if (used[1][i]) sum += (w.z - q.z) * (w.z - q.z);
    }
    outcome.sumOfSquares = sum;
  }

  void Linearise(std::size_t c, const ModelParameters& params, const FramePairs& pairs,
                 std::size_t i, PairLinearisation& out) const override {
    const Point3& p = pairs.source[i];
    const Point3& q = pairs.destination[i];
    const Point3& o = c == 0 ? params.reference : params.heightReference;
    const std::vector<double>& v = params.values;
    const double dE = p.x - o.x, dN = p.y - o.y;
    if (c == 0) {
      // r = o + t + scale·R(rz)·d − q over tx, ty, rz[, scale].
      const double scale = v[kScale];
      const double cs = std::cos(v[kRz]), sn = std::sin(v[kRz]);
      const double rx = cs * dE - sn * dN, ry = sn * dE + cs * dN;  // R·d
      out.residual[0] = (o.x + v[kTx] + scale * rx) - q.x;
      out.residual[1] = (o.y + v[kTy] + scale * ry) - q.y;
      const int u = fixScale_ ? 3 : 4;
      double* j = out.jacobian;
      j[0] = 1.0, j[1] = 0.0, j[2] = -scale * ry;
      j[u] = 0.0, j[u + 1] = 1.0, j[u + 2] = scale * rx;
      if (!fixScale_) j[3] = rx, j[u + 3] = ry;
      out.largestCoordinate = Largest({p.x, p.y, q.x, q.y, o.x, o.y});
      return;
    }
    // r = H + tz + slopeNorth·dN + slopeEast·dE [+ the quadric's terms] − H' over tz[,
    // slopeNorth, slopeEast[, qNN, qNE, qEE]].
    const double north = v[kSlopeNorth] * dN, east = v[kSlopeEast] * dE;
    const double curved = Curvature(params, dN, dE);
    out.residual[0] = p.z + v[kTz] + north + east + curved - q.z;
    out.jacobian[0] = 1.0;
    if (vertical_ != Model::Vertical::Constant) {
      out.jacobian[1] = dN;
      out.jacobian[2] = dE;
    }
    if (vertical_ == Model::Vertical::Quadric) {
      const double n = dN * kQuadricKilometresPerMetre, e = dE * kQuadricKilometresPerMetre;
      out.jacobian[3] = n * n;
      out.jacobian[4] = n * e;
      out.jacobian[5] = e * e;
    }
    out.largestCoordinate = Largest({p.z, q.z, v[kTz], north, east, curved});
  }

  Point3 Apply(const ModelParameters& params, const Point3& point, double) const override {
    const std::vector<double>& v = params.values;
    const Point3& o = params.reference;
    const Point3& h = params.heightReference;
    const double dE = point.x - o.x, dN = point.y - o.y;
    const double cs = std::cos(v[kRz]), sn = std::sin(v[kRz]);
    const double hN = point.y - h.y, hE = point.x - h.x;
    return Point3(o.x + v[kTx] + v[kScale] * (cs * dE - sn * dN),
                  o.y + v[kTy] + v[kScale] * (sn * dE + cs * dN),
                  point.z + v[kTz] + v[kSlopeNorth] * hN + v[kSlopeEast] * hE +
                      Curvature(params, hN, hE));
  }

  std::string ReportLines(const ModelParameters& params) const override {
    const std::vector<double>& v = params.values;
    const Point3& o = params.reference;
    std::string line = Printed(
        "site: tx=%.8f m, ty=%.8f m, tz=%.8f m, rz=%.6f arcsec, scale=%.8f, slopeNorth=%.6f ppm, "
        "slopeEast=%.6f ppm, reference E0=%.4f m, N0=%.4f m, H0=%.4f m",
        v[kTx], v[kTy], v[kTz], v[kRz] * kArcSecondsPerRadian, v[kScale],
        v[kSlopeNorth] * kPartsPerMillion,
        v[kSlopeEast] * kPartsPerMillion, o.x, o.y, o.z);
    if (vertical_ == Model::Vertical::Quadric) {
      line += Printed(", qNN=%.6f mm/km2, qNE=%.6f mm/km2, qEE=%.6f mm/km2", v[kQNN] * 1e3,
                      v[kQNE] * 1e3, v[kQEE] * 1e3);
    }
    if (HeightAboutItsOwn(params)) {
      line += Printed(", heights about E0=%.4f m, N0=%.4f m", params.heightReference.x,
                      params.heightReference.y);
    }
    line += "\n";
    line += HeightChoiceLine(choice_);
    return line;
  }

  std::vector<ResultMember> ResultMembers(const ModelParameters& params) const override {
    const std::vector<double>& v = params.values;
    const Point3& o = params.reference;
    ResultMember model{"model"};
    model.text = Name();
    std::vector<ResultMember> members = ContractMembers(params);
    members.push_back(model);
    members.push_back({"slope", {v[kSlopeNorth], v[kSlopeEast]}, true});
    members.push_back({"reference", {o.x, o.y, o.z}, true});
    if (vertical_ == Model::Vertical::Quadric) {
      members.push_back({"quadric", {v[kQNN], v[kQNE], v[kQEE]}, true});
    }
    if (HeightAboutItsOwn(params)) {
      members.push_back(
          {"heightReference", {params.heightReference.x, params.heightReference.y}, true});
    }
    return members;
  }

  std::string Formula(const ModelParameters& params) const override {
    return std::string("site: (E,N) = (E0,N0) + t + scale * R(rz) * ((E,N) - (E0,N0)); H = H + "
                       "tz + slopeNorth * (N - N0) + slopeEast * (E - E0)") +
           (vertical_ == Model::Vertical::Quadric
                ? " + qNN * n^2 + qNE * n * e + qEE * e^2, n = (N - N0) / 1000, e = (E - E0) / 1000"
                : "") +
           "; (E0,N0,H0) = reference" +
           (HeightAboutItsOwn(params) ? ", (E0,N0) of heightReference for the heights" : "");
  }

  std::string ProjSteps(const ModelParameters& params) const override {
    const std::vector<double>& v = params.values;
    const Point3& o = params.reference;
    const Point3& h = params.heightReference;
    const double cs = std::cos(v[kRz]);
    const double sn = std::sin(v[kRz]);
    const double scale = v[kScale], slopeNorth = v[kSlopeNorth], slopeEast = v[kSlopeEast];
    // (E', N') = A·(E, N) + o + t − A·o with A = scale·R; H' = H + sE·E + sN·N + tz − sE·E0 −
    // sN·N0.
    const double a11 = scale * cs, a12 = -scale * sn, a21 = scale * sn, a22 = scale * cs;
    const AffineTerms affine{
        {{a11, a12, 0.0}, {a21, a22, 0.0}, {slopeEast, slopeNorth, 1.0}},
        {o.x + v[kTx] - (a11 * o.x + a12 * o.y), o.y + v[kTy] - (a21 * o.x + a22 * o.y),
         v[kTz] - slopeEast * h.x - slopeNorth * h.y}};
    const std::string linear = AffineStep(affine);
    if (vertical_ != Model::Vertical::Quadric || linear.empty()) return linear;
    // PROJ's affine step is linear; the quadric's terms are added to the height first, from the
    // source point's easting and northing: kept aside (push), the terms made in their place by a
    // real polynomial (horner: x' = Σ c·(E − E0)^i·(N − N0)^j, in the order 1, e, e², n, e·n,
    // n²), added to the height (affine, z' = z + x'), and the point taken back (pop).
    const double perSquareMetre = kQuadricKilometresPerMetre * kQuadricKilometresPerMetre;
    const double terms[] = {v[kQEE] * perSquareMetre, v[kQNE] * perSquareMetre,
                            v[kQNN] * perSquareMetre, h.x, h.y};
    for (const double term : terms) {
      if (!std::isfinite(term)) return std::string();
    }
    const std::string origin = PipelineNumber(h.x) + "," + PipelineNumber(h.y);
    return " +step +proj=push +v_1 +v_2 +step +proj=horner +ellps=GRS80 +range=1e10 +deg=2"
           " +fwd_origin=" + origin + " +inv_origin=" + origin + " +fwd_u=0,0," +
           PipelineNumber(terms[0]) + ",0," + PipelineNumber(terms[1]) + "," +
           PipelineNumber(terms[2]) +
           " +fwd_v=0,0,0,0,0,0 +inv_u=0,0,0,0,0,0 +inv_v=0,0,0,0,0,0"
           " +step +proj=affine +s31=1 +step +proj=pop +v_1 +v_2" + linear;
  }

  std::vector<ResultMember> RecordMembers(const ModelParameters& params) const override {
    std::vector<ResultMember> members;
    if (HeightAboutItsOwn(params)) {
      members.push_back(
          {"heightReference", {params.heightReference.x, params.heightReference.y}, true});
    }
    for (ResultMember& member : HeightChoiceMembers(choice_)) members.push_back(member);
    return members;
  }

  std::string PlotTitle() const override {
    const char* height = vertical_ == Model::Vertical::Plane      ? kHeightPlane
                         : vertical_ == Model::Vertical::Quadric ? kHeightQuadric
                                                                  : kHeightConstant;
    return std::string("\xEF\xBC\x88") + kSiteTitle + "\xEF\xBC\x9A" +
           (fixScale_ ? kThreeParameters : kFourParameters) + " + " + height +
           "\xEF\xBC\x89";  // （点校正：… + …）
  }

  std::unique_ptr<const TransformModel> Settled(
      const FramePairs& pairs, const std::vector<std::vector<bool>>& used) const override {
    if (vertical_ != Model::Vertical::Auto) return nullptr;
    // The candidates the vertically fitted pairs allow with redundancy, about their centroid;
    // the smallest prediction error wins, the simpler model on a tie.
    const HeightChoice choice =
        ChooseHeightModel(pairs.source, pairs.destination, used[1],
                          CentroidOf(pairs.source, {used[1]}), pairs.precision);
    Model settled;
    settled.name = Name();
    settled.fixScale = fixScale_;
    settled.vertical = choice.surface;
    auto made = std::make_unique<SiteModel>(settled, choice);
    made->SameLineAs(*this);
    return made;
  }

 private:
  // The quadric's terms at a point dN, dE metres from the height reference, metres.
  static double Curvature(const ModelParameters& params, double dN, double dE) {
    const std::vector<double>& v = params.values;
    if (v.size() <= kQEE) return 0.0;
    const double n = dN * kQuadricKilometresPerMetre, e = dE * kQuadricKilometresPerMetre;
    return v[kQNN] * n * n + v[kQNE] * n * e + v[kQEE] * e * e;
  }

  // Whether the height surface acts about a centroid of its own (the parts fit different pairs).
  static bool HeightAboutItsOwn(const ModelParameters& params) {
    return params.heightReference.x != params.reference.x ||
           params.heightReference.y != params.reference.y;
  }

  bool fixScale_;
  Model::Vertical vertical_;
  HeightChoice choice_;
  std::vector<ParameterInfo> parameters_;
  std::vector<Component> components_;
};

}  // namespace

std::unique_ptr<TransformModel> MakeSiteModel(const Model& model) {
  return std::make_unique<SiteModel>(model, HeightChoice{});
}

}  // namespace Quorvane
