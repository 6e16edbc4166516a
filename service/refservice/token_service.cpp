#include "token_service.h"

#include <openssl/rand.h>

#include <cjson/cJSON.h>

#include "marked_document.h"

namespace vxs {
namespace refservice {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percent_decode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (text[i] == '%' && i + 2 < text.size() && hex_digit(text[i + 1]) >= 0 && hex_digit(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string error_body(const char* error, const std::string& description) {
    cJSON* root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "error", error);
    cJSON_AddStringToObject(root, "error_description", description.c_str());
    std::string text = print_compact(root);
    cJSON_Delete(root);
    return text;
}

}  // namespace

bool form_value(const std::string& body, const std::string& name, std::string* value) {
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        const std::string pair = body.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (equals != std::string::npos && percent_decode(pair.substr(0, equals)) == name) {
            *value = percent_decode(pair.substr(equals + 1));
            return true;
        }
        start = end + 1;
    }
    return false;
}

TokenService::TokenService(std::string client_id, std::string client_secret)
    : m_client_id(std::move(client_id)), m_client_secret(std::move(client_secret)) {}

std::string TokenService::issue() {
    unsigned char random[24];
    if (RAND_bytes(random, sizeof(random)) != 1) return std::string();
    static const char digits[] = "0123456789abcdef";
    std::string token = "vxs.";
    for (unsigned char byte : random) {
        token.push_back(digits[byte >> 4]);
        token.push_back(digits[byte & 15]);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_issued.insert(token);
    return token;
}

bool TokenService::is_valid(const std::string& token) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_issued.count(token) != 0;
}

TokenAnswer TokenService::answer(const std::string& form_body) {
    TokenAnswer answer;
    std::string grant, id, secret;
    if (!form_value(form_body, "grant_type", &grant) || grant != "client_credentials") {
        answer.status = 400;
        answer.body = error_body("unsupported_grant_type", "grant_type must be client_credentials");
        return answer;
    }
    form_value(form_body, "client_id", &id);
    form_value(form_body, "client_secret", &secret);
    answer.client_id = id;
    const bool configured = !m_client_id.empty();
    const bool accepted = configured ? (id == m_client_id && secret == m_client_secret) : (!id.empty() && !secret.empty());
    if (!accepted) {
        answer.status = 401;
        answer.body = error_body("invalid_client", "unknown client id or wrong client secret");
        return answer;
    }
    const std::string token = issue();
    if (token.empty()) {
        answer.status = 500;
        answer.body = error_body("server_error", "no random bytes for a token");
        return answer;
    }
    cJSON* root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "access_token", token.c_str());
    cJSON_AddNumberToObject(root, "expires_in", kTokenLifetimeSeconds);
    cJSON_AddStringToObject(root, "scope", "recognition");
    answer.body = print_compact(root);
    cJSON_Delete(root);
    return answer;
}

}  // namespace refservice
}  // namespace vxs
