// The tool's Chinese console texts, in the two encodings it can write them in.
#pragma once

namespace Quorvane {

/// How Chinese console text is written: GBK (code page 936) bytes, as a Chinese Windows console
/// expects and as the tool has always written them, or UTF-8.
enum class ConsoleEncoding { Gbk, Utf8 };

/// One text, as bytes in each encoding; the comment beside each gives it as characters.
struct ConsoleText {
  const char* gbk;
  const char* utf8;

  const char* In(ConsoleEncoding encoding) const {
    return encoding == ConsoleEncoding::Utf8 ? utf8 : gbk;
  }
};

// The message for an incomplete command line ("the arguments are wrong"), on standard output.
constexpr ConsoleText kBadArgumentsMessage = {
    "\xCA\xE4\xC8\xEB\xB5\xC4\xB2\xCE\xCA\xFD\xD3\xD0\xCE\xF3\n",
    "\xE8\xBE\x93\xE5\x85\xA5\xE7\x9A\x84\xE5\x8F\x82\xE6\x95\xB0\xE6\x9C\x89\xE8\xAF\xAF"
    "\n"};  // 输入的参数有误

// The report's three blocks.
constexpr ConsoleText kSourceLabel = {
    "\xD4\xB4\xB5\xE3\xCE\xBB\xD6\xC3\xA3\xBA",
    "\xE6\xBA\x90\xE7\x82\xB9\xE4\xBD\x8D\xE7\xBD\xAE\xEF\xBC\x9A"};  // 源点位置：
constexpr ConsoleText kDestinationLabel = {
    "\xC4\xBF\xB1\xEA\xCE\xBB\xD6\xC3\xA3\xBA",
    "\xE7\x9B\xAE\xE6\xA0\x87\xE4\xBD\x8D\xE7\xBD\xAE\xEF\xBC\x9A"};  // 目标位置：
constexpr ConsoleText kComputedLabel = {
    "ceres\xBC\xC6\xCB\xE3\xD6\xB5\xA3\xBA",
    "ceres\xE8\xAE\xA1\xE7\xAE\x97\xE5\x80\xBC\xEF\xBC\x9A"};  // ceres计算值：

// The quality block (--quality).
constexpr ConsoleText kResidualsLabel = {"\xB2\xD0\xB2\xEE\xA3\xBA",
                                         "\xE6\xAE\x8B\xE5\xB7\xAE\xEF\xBC\x9A"};  // 残差：
constexpr ConsoleText kSuspectMark = {"\xB4\xD6\xB2\xEE?", "\xE7\xB2\x97\xE5\xB7\xAE?"};  // 粗差?
constexpr ConsoleText kExcludedMark = {"\xCC\xDE\xB3\xFD", "\xE5\x89\x94\xE9\x99\xA4"};   // 剔除
constexpr ConsoleText kRemovedMark = {
    "\xD7\xD4\xB6\xAF\xCC\xDE\xB3\xFD",
    "\xE8\x87\xAA\xE5\x8A\xA8\xE5\x89\x94\xE9\x99\xA4"};  // 自动剔除
constexpr ConsoleText kFittedPairsLabel = {
    "\xC4\xE2\xBA\xCF\xB5\xE3\xCA\xFD\xA3\xBA",
    "\xE6\x8B\x9F\xE5\x90\x88\xE7\x82\xB9\xE6\x95\xB0\xEF\xBC\x9A"};  // 拟合点数：
constexpr ConsoleText kRedundancyLabel = {
    "\xB6\xE0\xD3\xE0\xB9\xDB\xB2\xE2\xCA\xFD\xA3\xBA",
    "\xE5\xA4\x9A\xE4\xBD\x99\xE8\xA7\x82\xE6\xB5\x8B\xE6\x95\xB0\xEF\xBC\x9A"};  // 多余观测数：
constexpr ConsoleText kSigma0Label = {"\xB5\xA5\xCE\xBB\xC8\xA8\xD6\xD0\xCE\xF3\xB2\xEE\xA3\xBA",
                                      "\xE5\x8D\x95\xE4\xBD\x8D\xE6\x9D\x83\xE4\xB8\xAD\xE8\xAF\xAF"
                                      "\xE5\xB7\xAE\xEF\xBC\x9A"};  // 单位权中误差：
constexpr ConsoleText kRmsHorizontalLabel = {
    "\xC6\xBD\xC3\xE6RMS\xA3\xBA", "\xE5\xB9\xB3\xE9\x9D\xA2RMS\xEF\xBC\x9A"};  // 平面RMS：
constexpr ConsoleText kRmsVerticalLabel = {"\xB8\xDF\xB3\xCCRMS\xA3\xBA",
                                           "\xE9\xAB\x98\xE7\xA8\x8BRMS\xEF\xBC\x9A"};  // 高程RMS：
constexpr ConsoleText kParameterSigmaLabel = {
    "\xB2\xCE\xCA\xFD\xD6\xD0\xCE\xF3\xB2\xEE\xA3\xBA",
    "\xE5\x8F\x82\xE6\x95\xB0\xE4\xB8\xAD\xE8\xAF\xAF\xE5\xB7\xAE\xEF\xBC\x9A"};  // 参数中误差：
constexpr ConsoleText kRemovalsLabel = {
    "\xD7\xD4\xB6\xAF\xCC\xDE\xB3\xFD\xA3\xBA",
    "\xE8\x87\xAA\xE5\x8A\xA8\xE5\x89\x94\xE9\x99\xA4\xEF\xBC\x9A"};  // 自动剔除：
constexpr ConsoleText kNotDetermined = {
    "\xCE\xDE\xB7\xA8\xC8\xB7\xB6\xA8",
    "\xE6\x97\xA0\xE6\xB3\x95\xE7\xA1\xAE\xE5\xAE\x9A"};  // 无法确定

// The site model's quality block: the two components' sections, and the prefix of a mark that
// concerns one component only.
constexpr ConsoleText kHorizontalLabel = {
    "\xC6\xBD\xC3\xE6\xA3\xBA", "\xE5\xB9\xB3\xE9\x9D\xA2\xEF\xBC\x9A"};  // 平面：
constexpr ConsoleText kVerticalLabel = {
    "\xB8\xDF\xB3\xCC\xA3\xBA", "\xE9\xAB\x98\xE7\xA8\x8B\xEF\xBC\x9A"};  // 高程：
constexpr ConsoleText kHorizontalPrefix = {"\xC6\xBD\xC3\xE6",
                                           "\xE5\xB9\xB3\xE9\x9D\xA2"};  // 平面
constexpr ConsoleText kVerticalPrefix = {"\xB8\xDF\xB3\xCC",
                                         "\xE9\xAB\x98\xE7\xA8\x8B"};  // 高程
// A fitted pair whose residual exceeds a tolerance (--tolerance-h, --tolerance-v).
constexpr ConsoleText kOverToleranceMark = {"\xB3\xAC\xCF\xDE",
                                            "\xE8\xB6\x85\xE9\x99\x90"};  // 超限

// The transformed points (--apply).
constexpr ConsoleText kTransformedLabel = {
    "\xD7\xAA\xBB\xBB\xBD\xE1\xB9\xFB\xA3\xBA",
    "\xE8\xBD\xAC\xE6\x8D\xA2\xE7\xBB\x93\xE6\x9E\x9C\xEF\xBC\x9A"};  // 转换结果：

// The distortion's line in the report (--distortion): its label, the pairs' unit, the
// leave-one-out label and the hull's points given apart.
constexpr ConsoleText kDistortionLabel = {
    "\xBB\xFB\xB1\xE4\xB8\xC4\xD5\xFD\xA3\xBA",
    "\xE7\x95\xB8\xE5\x8F\x98\xE6\x94\xB9\xE6\xAD\xA3\xEF\xBC\x9A"};  // 畸变改正：
constexpr ConsoleText kDistortionPairs = {"\xB6\xD4", "\xE5\xAF\xB9"};  // 对
constexpr ConsoleText kLeaveOneOutLabel = {
    "\xC1\xF4\xD2\xBB\xD4\xA4\xB2\xE2RMS\xA3\xBA",
    "\xE7\x95\x99\xE4\xB8\x80\xE9\xA2\x84\xE6\xB5\x8BRMS\xEF\xBC\x9A"};  // 留一预测RMS：
constexpr ConsoleText kHullApartOpen = {
    "\xCD\xB9\xB0\xFC\xC9\xCF",
    "\xE5\x87\xB8\xE5\x8C\x85\xE4\xB8\x8A"};  // 凸包上
constexpr ConsoleText kHullApartClose = {
    "\xB5\xE3\xC1\xED\xBC\xC6\xA3\xBA",
    "\xE7\x82\xB9\xE5\x8F\xA6\xE8\xAE\xA1\xEF\xBC\x9A"};  // 点另计：

}  // namespace Quorvane
