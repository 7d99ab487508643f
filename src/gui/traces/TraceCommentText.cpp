#include "gui/traces/TraceCommentText.h"

#include <QRegularExpression>
#include <cmath>

#include "engine/AveragingChoice.h"

namespace qv::gui {

QString TraceCommentText::readable(const std::string& comment, double tickInterval) {
  QString text = QString::fromStdString(comment);
  static const QRegularExpression stored(QStringLiteral(
      R"(^Smoothing: 1/(\d+) oct, averaging: ([0-9]+(?:\.[0-9]*)?), delay: (-?[0-9]+(?:\.[0-9]*)?) ms$)"));
  const QRegularExpressionMatch match = stored.match(text);
  if (!match.hasMatch()) return text;
  bool ok = false;
  const long smoothing = match.captured(1).toLong(&ok);
  if (!ok || smoothing < 1) return text;
  const double averaging = match.captured(2).toDouble(&ok);
  // Averaging is a whole index of 1 … 1000; anything else is not what the program wrote.
  if (!ok || averaging < 1.0 || averaging > 1000.0 || averaging != std::floor(averaging))
    return text;
  const double delay = match.captured(3).toDouble(&ok);
  if (!ok) return text;

  const QString smoothingText =
      smoothing == 1 ? QStringLiteral("1 oct") : QStringLiteral("1/%1 oct").arg(smoothing);
  const QString averagingText =
      QString::fromStdString(AveragingChoice::label(static_cast<int>(averaging), tickInterval));
  return QStringLiteral("Smoothing %1 \u00b7 Averaging %2 \u00b7 Delay %3 ms")
      .arg(smoothingText, averagingText, QString::number(delay, 'f', 2));
}

}  // namespace qv::gui
