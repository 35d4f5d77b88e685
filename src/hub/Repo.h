#pragma once
// A repository on the model hub: its identifier (usually "owner/name") and
// kind. Serialised as {"id": ..., "type": ...}.

#include "hub/RepoType.h"

#include <string>
#include <string_view>

namespace hub {

struct Repo {
    std::string id;
    RepoType type = RepoType::models;

    bool operator==(const Repo&) const = default;

    /// {"id":"<id>","type":"<raw type>"}, keys in that order. Throws
    /// platform::system::CodingError (invalidValue) for an id that is not UTF-8.
    std::string toJson() const;
    /// Reads the object form; both keys are required and must be texts, the
    /// type one of the three raw values. Throws platform::system::CodingError:
    /// dataCorrupted for text that is not JSON or an unknown type, keyNotFound
    /// for a missing key, valueNotFound for a null one, typeMismatch for a
    /// key or document of the wrong kind.
    static Repo fromJson(std::string_view json);
};

} // namespace hub
