#include "cli/CurveOptions.h"

#include <memory>
#include <string>

#include "cli/CliError.h"
#include "curves/BandAxis.h"
#include "curves/CurveFile.h"
#include "curves/MicCalibration.h"
#include "curves/TargetCurve.h"

namespace qv::cli {
namespace {

[[noreturn]] void refuse(const std::string& path, const curves::CurveFileError& error) {
  // A message about a line needs the file's name; one about the file already has it.
  throw CliError(error.line ? path + ": " + error.text() : error.text());
}

std::shared_ptr<curves::MicCalibration> calibrationOf(const Options& options) {
  if (!options.micCalibration) return nullptr;
  auto calibration = std::make_shared<curves::MicCalibration>();
  curves::CurveFileError error;
  if (!curves::MicCalibration::load(*options.micCalibration, calibration.get(), &error))
    refuse(*options.micCalibration, error);
  return calibration;
}

std::optional<curves::TargetCurve> targetOf(const Options& options) {
  if (!options.target) return std::nullopt;
  curves::TargetCurve target;
  curves::CurveFileError error;
  if (!curves::TargetCurve::load(*options.target, options.targetTolerance, &target, &error))
    refuse(*options.target, error);
  return target;
}

}  // namespace

void checkCurveFiles(const Options& options) {
  calibrationOf(options);
  targetOf(options);
}

void applyCurveOptions(session::MeasurementSession& session, const Options& options) {
  if (auto calibration = calibrationOf(options)) session.setMicCalibration(std::move(calibration));
}

void compareWithTarget(AnalysisResult& result, const Options& options) {
  const auto target = targetOf(options);
  if (!target) return;
  TargetComparison comparison;
  comparison.name = curves::CurveFile::fileName(*options.target);
  comparison.bands = target->onAxis(curves::BandAxis(result.magnitude.size()));
  comparison.outside = curves::TargetCurve::distanceOutside(comparison.bands, result.magnitude);
  comparison.summary = curves::TargetCurve::summarize(comparison.outside);
  result.target = std::move(comparison);
}

}  // namespace qv::cli
