#pragma once
// The product identity the windows show: names, the maker's web site, and
// whether the skin and the web banner are part of this build.

#include <QString>

namespace wendral {

struct BrandingProfile
{
    QString productName;
    QString companyName;
    QString website; // the maker's bare domain name
    bool skinEnabled = false;
    bool bannerEnabled = false;
    QString bannerUrl;

    // The identity fixed at build time.
    static BrandingProfile fromBuild();
};

} // namespace wendral
