#pragma once

#include <string>
#include <utility>

#include "cli/PortJob.h"

// What the port job's files share.
namespace portjob {

using Kind = PortJob::Event::Kind;

inline PortJob::Event Settled(int status, std::string why = {}) {
  return {Kind::Settled, status, std::move(why)};
}

}  // namespace portjob
