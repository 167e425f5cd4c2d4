#pragma once
// The product identity decided at build time (modProfile).

#include <QString>

namespace wendral {

struct Profile
{
    QString productName;
    QString companyName;
    QString website; // the maker's bare domain name
    bool skinEnabled = false;
    bool bannerEnabled = false;
    QString bannerUrl;
};

// The program-wide profile; empty with both flags false until InitProfile runs.
Profile &profile();
// Fills the profile from the product metadata; returns nothing of use.
void InitProfile();
// Tests reset the profile to its empty state.
void resetProfile();

} // namespace wendral
