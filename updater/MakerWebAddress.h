// Web addresses shown by Flashwell: the maker's (opened by the logo) and the
// partner's. The main dialog's template shows both as text too.
#pragma once

constexpr const char kMakerWebAddress[] = "http://www.kelvrin.com";
constexpr const char kPartnerWebAddress[] = "http://www.vantrel.com";
