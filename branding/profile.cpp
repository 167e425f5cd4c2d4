#include "branding/profile.h"

#include "app/runtime.h"

namespace wendral {
namespace {
Profile g_profile;
}

Profile &profile()
{
    return g_profile;
}

void InitProfile()
{
    g_profile.productName = App::productName();
    g_profile.companyName = App::companyName();
    g_profile.website = App::comments();
    g_profile.skinEnabled = false;
    g_profile.bannerEnabled = WENDRAL_BANNER_ENABLED != 0;
    g_profile.bannerUrl = QStringLiteral("http://") + App::comments() + QStringLiteral("/freeprograms/banner2.html");
}

void resetProfile()
{
    g_profile = Profile{};
}

} // namespace wendral
