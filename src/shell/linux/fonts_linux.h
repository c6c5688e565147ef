// The window's fonts. The design names old Windows bitmap faces ("MS Sans
// Serif", "MS Serif"), which a Linux desktop rarely has: each has a list of
// stand-ins of the same kind and similar metrics, tried in order, and
// fontconfig's choice for the kind as a last resort.
#pragma once
#include <QFont>
#include <QString>

namespace tarvik::lnx {

inline constexpr char kSansDesignFace[] = "MS Sans Serif";
inline constexpr char kSerifDesignFace[] = "MS Serif";

// The face used for a design face: the first installed stand-in.
QString ChooseFace(const QString& designFace);
QFont MakeFont(const QString& designFace, double points);

}  // namespace tarvik::lnx
