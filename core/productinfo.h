#pragma once
// What the program knows about itself: where its executable lives and the
// product metadata fixed at build time (name, maker, web address, version).

#include <QString>

namespace wendral::ProductInfo {

// The folder of the running executable, without a trailing separator.
QString programFolder();
// The real path of the running executable (links resolved).
QString executablePath();

QString productName();
QString companyName();
// The maker's web address as a bare domain name.
QString website();
int versionMajor();
int versionMinor();
// The full version, for instance "1.0.0.0".
QString versionText();
// The release as users see it, for instance "1.0.0".
QString releaseVersion();
// The desktop's name for the program: its menu entry, icons and AppStream id.
QString desktopId();

} // namespace wendral::ProductInfo
