#pragma once
// A MethodResult that forwards each answer to a function; mostly for tests
// and for callers of InvokeMethod.
#include <functional>
#include <string>

#include "platform/flutter/method_result.h"

namespace flutter {

template <typename T>
using ResultHandlerSuccess = std::function<void(const T* result)>;
template <typename T>
using ResultHandlerError =
    std::function<void(const std::string& error_code, const std::string& error_message, const T* error_details)>;
template <typename T>
using ResultHandlerNotImplemented = std::function<void()>;

template <typename T>
class MethodResultFunctions : public MethodResult<T> {
 public:
  MethodResultFunctions(ResultHandlerSuccess<T> on_success, ResultHandlerError<T> on_error,
                        ResultHandlerNotImplemented<T> on_not_implemented)
      : on_success_(std::move(on_success)),
        on_error_(std::move(on_error)),
        on_not_implemented_(std::move(on_not_implemented)) {}

 protected:
  void SuccessInternal(const T* result) override {
    if (on_success_) on_success_(result);
  }
  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const T* error_details) override {
    if (on_error_) on_error_(error_code, error_message, error_details);
  }
  void NotImplementedInternal() override {
    if (on_not_implemented_) on_not_implemented_();
  }

 private:
  ResultHandlerSuccess<T> on_success_;
  ResultHandlerError<T> on_error_;
  ResultHandlerNotImplemented<T> on_not_implemented_;
};

}  // namespace flutter
