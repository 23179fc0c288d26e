// defaults.cpp -- the defaults tables as constant data.
#include "defaults.h"

namespace settings {

const char kControlFileValue[] = "ControlFile";
const char kSiteFileValue[] = "SiteFile";
const char kErrorMsgValue[] = "ErrorMsg";
const char kDottedDecimalValue[] = "DD";
const char kPersonalValue[] = "Personal";
const char kLogValue[] = "Log";
const char kMailValue[] = "Mail";
const char kBusinessHoursValue[] = "BusinessHours";

const char kDenySubkey[] = "Deny";
const char kAlertSubkey[] = "Alert";
const char kHoursSubkey[] = "Hours";

const char kDefaultDenialBody[] =
    "<BODY bgcolor=\"#FF0000\">\r\n"
    "<p><B>Access to this site is restricted.</B></p>\r\n"
    "</BODY>";
static_assert(sizeof(kDefaultDenialBody) == 83 + 1, "the default denial body is 83 characters");

const FilterDefaults kFilterDefaults = {"site.txt", "", 1, 0};

const PageDefaults kPageDefaults = {
    "C:\\Windows\\System32\\qxcontrol",
    "C:\\Windows\\System32\\site.txt",
    kDefaultDenialBody,
    1,
    1,
    1,
    0,
};

}  // namespace settings
