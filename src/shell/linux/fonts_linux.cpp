#include "shell/linux/fonts_linux.h"

#include <QFontDatabase>
#include <QStringList>

namespace tarvik::lnx {
namespace {

bool IsSerif(const QString& designFace) { return designFace == QLatin1String(kSerifDesignFace); }

QStringList Candidates(const QString& designFace) {
  // Outline faces only: the bitmap originals would not scale with the
  // display. Metric twins first (Liberation and the URW faces match Arial
  // and Times), then the usual defaults of Debian desktops.
  if (IsSerif(designFace))
    return {QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"),
            QStringLiteral("Nimbus Roman"), QStringLiteral("DejaVu Serif")};
  return {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma"),
          QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
          QStringLiteral("DejaVu Sans")};
}

// A family that several foundries make is listed once for each, as
// "Nimbus Sans [urw]"; the plain name picks the best of them.
bool Installed(const QStringList& families, const QString& face) {
  for (const QString& f : families)
    if (f.compare(face, Qt::CaseInsensitive) == 0 || f.startsWith(face + QStringLiteral(" ["), Qt::CaseInsensitive))
      return true;
  return false;
}

}  // namespace

QString ChooseFace(const QString& designFace) {
  const QStringList installed = QFontDatabase::families();
  for (const QString& face : Candidates(designFace))
    if (Installed(installed, face)) return face;
  return {};
}

QFont MakeFont(const QString& designFace, double points) {
  QFont font;
  const QString face = ChooseFace(designFace);
  if (!face.isEmpty()) font.setFamily(face);
  font.setStyleHint(IsSerif(designFace) ? QFont::Serif : QFont::SansSerif);
  font.setPointSizeF(points);
  return font;
}

}  // namespace tarvik::lnx
