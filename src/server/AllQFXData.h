#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "server/AllQFXModels.h"

// The effect catalogue: the base URL of the effect archives and one entry per accepted device model.
class AllQFXData {
public:
    // An empty document: what a reply without JSON gives.
    AllQFXData() = default;
    // A root that is not an object gives the empty document.
    static AllQFXData initWithDic(const nlohmann::json& dic);
    AllQFXData copy() const { return *this; }

    const std::optional<std::string>& qfx_url() const { return qfx_url_; }
    void setQfx_url(std::optional<std::string> url) { qfx_url_ = std::move(url); }
    const std::optional<std::vector<AllQFXModels>>& modelsList() const { return modelsList_; }
    void setModelsList(std::optional<std::vector<AllQFXModels>> list) { modelsList_ = std::move(list); }

    // Neither the URL nor the model list is set: only a document not made from JSON.
    bool isEmpty() const { return !qfx_url_ && !modelsList_; }
    // No URL, no model at all, or a known key holding something of another kind anywhere in the document:
    // the catalogue cannot be used. Read leniently, such a document would still look usable, and its
    // models with their effect lists missing would sweep the effect store.
    bool isError() const { return wrongKinds_ || !qfx_url_ || !modelsList_ || modelsList_->empty(); }
    bool hasWrongKinds() const { return wrongKinds_; }

private:
    bool wrongKinds_ = false;
    std::optional<std::string> qfx_url_;
    std::optional<std::vector<AllQFXModels>> modelsList_;
};
