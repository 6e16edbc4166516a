// The network's arithmetic (fast exponential, activations, forward pass) and
// its binary model file, including malformed files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dnn_vad_fixtures.h"
#include "vad/dnn/network.h"
#include "vad/dnn/network_file.h"
#include "vad/dnn/vector_math.h"

#include "allocation_counter.h"

namespace {

using namespace vx_dnnvad;
using dnnvad_test::ScratchDir;

TEST(VectorMath, FastExponentialAndSigmoidValues) {
    EXPECT_NEAR(fexp(0.0), 0.9710078, 1e-7);
    EXPECT_NEAR(fexp(1.0), 2.7694206, 1e-7);
    const float in[4] = {0.0f, 700.0f, 1000.0f, -700.0f};
    float out[4];
    qn_fe_sigmoid_vf_vf(4, in, out);
    EXPECT_NEAR(out[0], 0.5073547f, 1e-7);
    EXPECT_FLOAT_EQ(out[1], 1.0f);  // exact exponential at the range edge
    EXPECT_FLOAT_EQ(out[2], 1.0f);
    EXPECT_NEAR(out[3], 0.0f, 1e-30);
}

// The sigmoid runs four values at a time; every output must equal the
// one-value formula, whatever the length and wherever an out-of-range value
// or a NaN falls.
TEST(VectorMath, SigmoidEqualsTheOneValueFormulaAtEveryPosition) {
    std::vector<float> in;
    for (int i = 0; i < 23; ++i) in.push_back(static_cast<float>(i) * 0.73f - 8.0f);
    in[5] = 701.0f;
    in[10] = -750.0f;
    in[17] = std::nanf("");
    for (size_t n = 0; n <= in.size(); ++n) {
        std::vector<float> out(n, -1.0f);
        qn_fe_sigmoid_vf_vf(static_cast<int>(n), in.data(), out.data());
        for (size_t i = 0; i < n; ++i) {
            const double y = -static_cast<double>(in[i]);
            const double e = (y > -700.0 && y < 700.0) ? fexp(y) : std::exp(y);
            const float expected = static_cast<float>(1.0 / (1.0 + e));
            if (std::isnan(expected)) {
                EXPECT_TRUE(std::isnan(out[i])) << n << " values, value " << i;
            } else {
                EXPECT_EQ(out[i], expected) << n << " values, value " << i;
            }
        }
    }
}

TEST(VectorMath, SoftmaxVariants) {
    const float equal[9] = {3, 3, 3, 3, 3, 3, 3, 3, 3};
    float out[9];
    qn_nv_softmax_vf_vf(9, equal, out);
    for (float v : out) EXPECT_FLOAT_EQ(v, 1.0f / 9.0f);

    const float mixed[3] = {1.0f, 2.0f, -1.0f};
    float exact[3], fast[3];
    qn_nv_softmax_vf_vf(3, mixed, exact);
    qn_fe_softmax_vf_vf(3, mixed, fast);
    const double denom = std::exp(-1.0) + 1.0 + std::exp(-3.0);
    EXPECT_NEAR(exact[0], std::exp(-1.0) / denom, 1e-6);
    EXPECT_NEAR(fast[0] + fast[1] + fast[2], 1.0f, 1e-6);
    EXPECT_GT(std::fabs(fast[0] - exact[0]), 1e-4);  // really the approximation

    // The process-wide flag switches the network's softmax.
    float viaNet[3];
    qn_math = QN_MATH_FAST_SOFTMAX;
    DNN::softmax(mixed, viaNet, 3);
    qn_math = 0;
    EXPECT_FLOAT_EQ(viaNet[0], fast[0]);

    float untouched[1] = {42.0f};
    qn_nv_softmax_vf_vf(0, mixed, untouched);
    EXPECT_EQ(untouched[0], 42.0f);
}

TEST(VectorMath, MatrixProductChecksShapes) {
    const float a[6] = {1, 2, 3, 4, 5, 6};  // 2 x 3
    const float b[3] = {1, 0, -1};          // 3 x 1
    float out[2];
    EXPECT_EQ(DNN::matrixProduct(a, 2, 3, b, 3, 1, out), 0);
    EXPECT_FLOAT_EQ(out[0], -2.0f);
    EXPECT_FLOAT_EQ(out[1], -2.0f);
    EXPECT_EQ(DNN::matrixProduct(a, 2, 3, b, 2, 1, out), -1);
}

std::vector<float> randomParams(long count, unsigned seed) {
    std::vector<float> p(count);
    for (long i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        p[i] = static_cast<float>((seed >> 8) % 20001) / 10000.0f - 1.0f;
    }
    return p;
}

// The forward pass written plainly from the file layout: row-major matrices,
// in-order sums, sigmoid hidden layers, softmax output.
std::vector<float> referenceForward(const std::vector<int>& sizes, const std::vector<float>& params,
                                    std::vector<float> x) {
    size_t cursor = 0;
    for (size_t i = 0; i + 1 < sizes.size(); ++i) {
        const int rows = sizes[i + 1], cols = sizes[i];
        std::vector<float> y(rows);
        DNN::matrixProduct(&params[cursor], rows, cols, x.data(), cols, 1, y.data());
        cursor += static_cast<size_t>(rows) * cols;
        DNN::vectorAdd(y.data(), &params[cursor], y.data(), rows);
        cursor += rows;
        x.assign(rows, 0.0f);
        if (i + 2 == sizes.size()) {
            qn_nv_softmax_vf_vf(rows, y.data(), x.data());
        } else {
            qn_fe_sigmoid_vf_vf(rows, y.data(), x.data());
        }
    }
    return x;
}

TEST(Network, ForwardMatchesPlainComputationAndAllocatesNothing) {
    ScratchDir dir;
    // Widths that are not multiples of the SIMD block, and the shipped shape.
    const std::vector<std::vector<int>> shapes = {{416, 64, 9}, {26 * 5, 37, 11, 9}, {3, 9}};
    for (const auto& sizes : shapes) {
        const long count = networkParameterCount(sizes);
        const std::vector<float> params = randomParams(count, 7);
        const std::string path = dir.file("net.dat");
        ASSERT_TRUE(writeNetworkFile(path.c_str(), sizes, params));
        DNN net(nullptr, path.c_str());
        ASSERT_EQ(net.getState(), IDLE);
        ASSERT_EQ(net.getLayerNumber(), static_cast<int>(sizes.size()));
        EXPECT_EQ(net.getWeight(0)[1], params[1]);                       // (0, 1) row-major
        EXPECT_EQ(net.getBias(0)[0], params[static_cast<size_t>(sizes[1]) * sizes[0]]);

        const std::vector<float> input = randomParams(sizes[0], 99);
        std::vector<float> out(sizes.back());
        dnnvad_test::AllocationCounter counter;
        const int rc = net.forward(input.data(), sizes[0], out.data());
        const long allocations = counter.count();
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(allocations, 0);
        // Fused multiply-adds (where the CPU has them) round differently in the last bits.
        const std::vector<float> expected = referenceForward(sizes, params, input);
        for (int o = 0; o < sizes.back(); ++o)
            EXPECT_NEAR(out[o], expected[o], 1e-6f) << "output " << o;
        EXPECT_EQ(net.forward(input.data(), sizes[0] - 1, out.data()), -1);
    }
}

// A batch of rows gives, row for row, exactly what single passes give, for
// every batch size (whole and partial groups of rows).
TEST(Network, BatchRowsEqualSinglePassesAndAllocateNothing) {
    ScratchDir dir;
    const std::vector<std::vector<int>> shapes = {{416, 64, 32, 9}, {26 * 5, 37, 11, 9}, {3, 9}};
    for (const auto& sizes : shapes) {
        const std::string path = dir.file("net.dat");
        ASSERT_TRUE(
            writeNetworkFile(path.c_str(), sizes, randomParams(networkParameterCount(sizes), 7)));
        DNN net(nullptr, path.c_str());
        ASSERT_EQ(net.getState(), IDLE);
        const int in = sizes[0];
        const int outWidth = sizes.back();
        const std::vector<float> inputs = randomParams(static_cast<long>(in) * DNN::kMaxBatch, 5);
        std::vector<float> single(outWidth);
        for (int count = 1; count <= DNN::kMaxBatch; ++count) {
            std::vector<float> batch(static_cast<size_t>(outWidth) * count, -1.0f);
            dnnvad_test::AllocationCounter counter;
            const int rc = net.forwardBatch(inputs.data(), count, in, batch.data());
            EXPECT_EQ(counter.count(), 0);
            ASSERT_EQ(rc, 0);
            for (int r = 0; r < count; ++r) {
                ASSERT_EQ(
                    net.forward(inputs.data() + static_cast<size_t>(r) * in, in, single.data()), 0);
                const std::vector<float> row(batch.begin() + r * outWidth,
                                             batch.begin() + (r + 1) * outWidth);
                EXPECT_EQ(row, single)
                    << sizes.size() << " layers, batch of " << count << ", row " << r;
            }
        }
        std::vector<float> out(static_cast<size_t>(outWidth) * (DNN::kMaxBatch + 1));
        EXPECT_EQ(net.forwardBatch(inputs.data(), 0, in, out.data()), -1);
        EXPECT_EQ(net.forwardBatch(inputs.data(), DNN::kMaxBatch + 1, in, out.data()), -1);
        EXPECT_EQ(net.forwardBatch(inputs.data(), 1, in - 1, out.data()), -1);
    }
}

TEST(Network, ParameterCountOfTheShippedShape) {
    EXPECT_EQ(networkParameterCount({416, 64, 9}), 64 * 417 + 9 * 65);
    EXPECT_EQ(networkParameterCount({416, 64, 9}), 27273);
    EXPECT_EQ(networkParameterCount({416}), -1);
    EXPECT_EQ(networkParameterCount({416, 0, 9}), -1);
}

// Builds a file from raw parts so that each case can break one of them.
std::string rawNetworkFile(const std::string& header, const std::vector<int32_t>& ints, size_t floats) {
    std::string bytes = header;
    bytes.append(reinterpret_cast<const char*>(ints.data()), ints.size() * 4);
    const std::vector<float> values(floats, 0.5f);
    bytes.append(reinterpret_cast<const char*>(values.data()), floats * 4);
    return bytes;
}

struct MalformedCase {
    const char* name;
    std::string bytes;
    State expected;
    const char* message;  // expected in the printed diagnostics, or ""
};

TEST(Network, MalformedFiles) {
    // A 2 -> 9 network needs 9 * 3 = 27 parameters.
    const std::vector<MalformedCase> cases = {
        {"well formed", rawNetworkFile("a\nb\n27\n", {2, 2, 9}, 27), IDLE, ""},
        {"count too large, extra ignored", rawNetworkFile("a\nb\n30\n", {2, 2, 9}, 30), IDLE,
         "read_param_num[27] != param_num[30]"},
        {"count too small", rawNetworkFile("a\nb\n20\n", {2, 2, 9}, 27), UNINIT, "read_param_num[27] != param_num[20]"},
        {"zero count", rawNetworkFile("a\nb\n0\n", {2, 2, 9}, 27), UNINIT, ""},
        {"negative count", rawNetworkFile("a\nb\n-5\n", {2, 2, 9}, 27), UNINIT, ""},
        {"truncated floats", rawNetworkFile("a\nb\n27\n", {2, 2, 9}, 26), UNINIT, "corrupted net model file"},
        {"truncated widths", rawNetworkFile("a\nb\n27\n", {3, 2, 9}, 0), UNINIT, ""},
        {"zero layers", rawNetworkFile("a\nb\n27\n", {0}, 27), UNINIT, ""},
        {"one layer", rawNetworkFile("a\nb\n27\n", {1, 9}, 27), UNINIT, ""},
        {"negative width", rawNetworkFile("a\nb\n27\n", {2, -2, 9}, 27), UNINIT, ""},
        {"huge count in a small file", rawNetworkFile("a\nb\n200000000\n", {2, 2, 9}, 27), UNINIT,
         "corrupted net model file"},
        {"huge widths", rawNetworkFile("a\nb\n27\n", {2, 1000000, 1000000}, 27), UNINIT, ""},
        {"only one header line", "a\n", UNINIT, "failed to read header of model file"},
        {"no count line", "a\nb\n", UNINIT, "failed to read data offeset of model file"},
        {"empty file", "", UNINIT, "failed to read header of model file"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.file("malformed.dat");
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(c.bytes.data(), 1, c.bytes.size(), f);
        std::fclose(f);
        testing::internal::CaptureStdout();
        DNN net(nullptr, path.c_str());
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(net.getState(), c.expected) << c.name;
        EXPECT_NE(printed.find(c.message), std::string::npos) << c.name << ": " << printed;
        if (c.expected == UNINIT) {
            float in[2] = {0, 0}, out[9];
            EXPECT_EQ(net.forward(in, 2, out), -1) << c.name;
        }
    }
    testing::internal::CaptureStdout();
    DNN missing(nullptr, dir.file("absent.dat").c_str());
    EXPECT_NE(testing::internal::GetCapturedStdout().find("failed to open dnn model file["), std::string::npos);
    EXPECT_EQ(missing.getState(), UNINIT);
}

}  // namespace
