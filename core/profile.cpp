#include "core/profile.h"

#include "core/productinfo.h"

namespace wendral {

BrandingProfile BrandingProfile::fromBuild()
{
    BrandingProfile p;
    p.productName = ProductInfo::productName();
    p.companyName = ProductInfo::companyName();
    p.website = ProductInfo::website();
    p.skinEnabled = false;
    p.bannerEnabled = WENDRAL_BANNER_ENABLED != 0;
    p.bannerUrl = QStringLiteral("http://") + p.website + QStringLiteral("/freeprograms/banner2.html");
    return p;
}

} // namespace wendral
