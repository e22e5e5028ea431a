// The errors of the platform's side of the contract itself, as opposed to those the extension delivers.
#pragma once

#include <string_view>

#include "platform/error.h"

namespace davfp::client {

// The error a cancelled wait ends with: the platform's user-cancelled error.
platform::Error cancelledError();

// The error of a completion handler called with neither a result nor an error, which breaks the contract;
// `request` names it ("an item lookup").
platform::Error brokenContract(std::string_view request);

}  // namespace davfp::client
