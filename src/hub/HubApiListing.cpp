// Listing a repository's files and the account query.

#include "hub/HubApi.h"
#include "hub/YYJSONParser.h"
#include "platform/system/Glob.h"

#include <unordered_set>

namespace hub {

namespace {

Config parseBody(const std::string& body) {
    try {
        return YYJSONParser::parseToConfig(body);
    } catch (const YYJSONParser::ParseError&) {
        throw HubClientError::parse();
    }
}

} // namespace

std::vector<std::string> HubApi::getFilenames(const Repo& repo, const std::string& revision,
                                              const std::vector<std::string>& globs) const {
    const auto url = endpointURL()
                         .appendingPathComponent("api")
                         .appendingPathComponent(rawValue(repo.type))
                         .appendingPath(repo.id)
                         .appendingPathComponent("revision")
                         .appendingPathComponent(revision);
    const auto [body, response] = httpGet(url.string());
    const Config answer = parseBody(body);
    const Config::Array* siblings = answer["siblings"].array();
    if (!answer.dictionary() || !siblings) throw HubClientError::parse();

    std::vector<std::string> names;
    names.reserve(siblings->size());
    for (const Config& sibling : *siblings) {
        auto name = sibling["rfilename"].string();
        if (!sibling.dictionary() || !name) throw HubClientError::parse();
        checkRelativeName(*name, "file name from the listing");
        names.push_back(std::move(*name));
    }
    if (globs.empty()) return names;

    // Each matching name once, in the listing's order.
    std::vector<std::string> matching;
    std::unordered_set<std::string> seen;
    for (const std::string& glob : globs)
        for (const std::string& name : names)
            if (platform::system::globMatches(glob, name) && seen.insert(name).second)
                matching.push_back(name);
    return matching;
}

std::vector<std::string> HubApi::getFilenames(const Repo& repo, const std::string& glob) const {
    return getFilenames(repo, "main", std::vector<std::string>{glob});
}

std::vector<std::string> HubApi::getFilenames(const std::string& repoId,
                                              const std::vector<std::string>& globs) const {
    return getFilenames(Repo{repoId, RepoType::models}, "main", globs);
}

std::vector<std::string> HubApi::getFilenames(const std::string& repoId,
                                              const std::string& glob) const {
    return getFilenames(Repo{repoId, RepoType::models}, "main", std::vector<std::string>{glob});
}

Config HubApi::whoami() const {
    if (!qnToken) throw HubClientError::authorizationRequired();
    const auto url =
        endpointURL().appendingPathComponent("api").appendingPathComponent("whoami-v2");
    const auto [body, response] = httpGet(url.string());
    Config answer = parseBody(body);
    if (!answer.dictionary()) throw HubClientError::parse();
    return answer;
}

} // namespace hub
