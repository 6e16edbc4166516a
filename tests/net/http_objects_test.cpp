#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "net/http_request.h"
#include "net/http_response.h"

namespace {

using vxs::Networking::HTTP_REQUEST_ABORTED;
using vxs::Networking::HTTP_REQUEST_METHOD_GET;
using vxs::Networking::HTTP_REQUEST_OK;
using vxs::Networking::HTTP_REQUEST_UNDEFINED_ERROR;
using vxs::Networking::vxs_HttpRequest;
using vxs::Networking::vxs_HttpResponse;

TEST(HttpRequestTest, StringUrlIsCopiedWithItsTerminatorAndDefaultsApply) {
    std::string url = "https://localhost:8443/path?q=1";
    auto request = vxs_HttpRequest::requestWithUrl(url);
    ASSERT_TRUE(request);
    url[0] = 'X';
    EXPECT_STREQ(request->_URL.getPTR(), "https://localhost:8443/path?q=1");
    EXPECT_EQ(request->_METHOD, HTTP_REQUEST_METHOD_GET);
    EXPECT_EQ(request->_TIMEOUT_MS, -1);
    EXPECT_EQ(request->_BODY_LENGTH, 0);
    EXPECT_TRUE(request->_origin_URL.empty());
    EXPECT_TRUE(request->_HEADER_LIST.empty());
    EXPECT_FALSE(request->isCancelled());
    request->cancel();
    EXPECT_TRUE(request->isCancelled());
}

TEST(HttpResponseTest, FreshResponseHoldsOnlyTheTerminator) {
    auto response = vxs_HttpResponse::alloc();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->_data_len, 1u);
    EXPECT_EQ(response->get_response_data().getPTR()[0], '\0');
    EXPECT_EQ(response->get_local_request_error(), HTTP_REQUEST_OK);
    EXPECT_EQ(response->get_http_status(), 200);
    EXPECT_EQ(response->get_source(), nullptr);
}

TEST(HttpResponseTest, PiecesAreAppendedInOrderAndStayTerminated) {
    auto response = vxs_HttpResponse::alloc();
    EXPECT_TRUE(response->receive_new_data("a", 1));
    EXPECT_TRUE(response->receive_new_data("bc", 2));
    EXPECT_EQ(response->_data_len, 4u);
    EXPECT_EQ(std::memcmp(response->get_response_data().getPTR(), "abc\0", 4), 0);

    // Many small pieces, with embedded NUL bytes, survive the buffer's growth.
    std::string expected = "abc";
    for (int i = 0; i < 5000; ++i) {
        const char piece[3] = {static_cast<char>('a' + i % 26), '\0', 'z'};
        ASSERT_TRUE(response->receive_new_data(piece, sizeof piece));
        expected.append(piece, sizeof piece);
    }
    ASSERT_EQ(response->body_length(), expected.size());
    EXPECT_EQ(std::string(response->get_response_data().getPTR(), response->body_length()), expected);
    EXPECT_EQ(response->get_response_data().getPTR()[expected.size()], '\0');
}

TEST(HttpResponseTest, EmptyInputAndAnEarlierErrorAppendNothing) {
    auto response = vxs_HttpResponse::alloc();
    EXPECT_FALSE(response->receive_new_data(nullptr, 3));
    EXPECT_FALSE(response->receive_new_data("abc", 0));
    EXPECT_EQ(response->_data_len, 1u);
    EXPECT_EQ(response->get_local_request_error(), HTTP_REQUEST_OK);

    response->set_local_request_error(HTTP_REQUEST_ABORTED);
    EXPECT_FALSE(response->receive_new_data("abc", 3));
    EXPECT_EQ(response->_data_len, 1u);
}

TEST(HttpResponseTest, BodyIsCappedWithoutAbortingTheProcess) {
    auto response = vxs_HttpResponse::alloc();
    const std::string block(64 * 1024, 'x');
    for (size_t total = 0; total < vxs_HttpResponse::kMaxBodyBytes; total += block.size()) {
        ASSERT_TRUE(response->receive_new_data(block.data(), block.size()));
    }
    EXPECT_EQ(response->body_length(), vxs_HttpResponse::kMaxBodyBytes);
    EXPECT_FALSE(response->receive_new_data("y", 1));
    EXPECT_EQ(response->get_local_request_error(), HTTP_REQUEST_UNDEFINED_ERROR);
    EXPECT_FALSE(response->getErrorMessage().empty());
    EXPECT_EQ(response->body_length(), vxs_HttpResponse::kMaxBodyBytes);

    // A single piece whose length would wrap the size arithmetic is refused too.
    auto other = vxs_HttpResponse::alloc();
    other->receive_new_data("ab", 2);
    EXPECT_FALSE(other->receive_new_data("c", static_cast<size_t>(-1)));
    EXPECT_EQ(other->get_local_request_error(), HTTP_REQUEST_UNDEFINED_ERROR);
    EXPECT_EQ(other->body_length(), 2u);
}

}  // namespace
