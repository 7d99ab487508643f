#pragma once
// Base of the concrete units: two sizes and a name. Chain thread only.
#include <memory>
#include <string>

#include "engine/UnitProtocol.h"

namespace qv {

class Unit : public virtual UnitProtocol {
 public:
  Unit() = default;
  explicit Unit(std::string name) : _name(std::move(name)) {}
  static std::shared_ptr<Unit> unit() { return std::make_shared<Unit>(); }
  static std::shared_ptr<Unit> unitWithName(std::string name) {
    return std::make_shared<Unit>(std::move(name));
  }

  UnitBufferSize unitGetInputSize() const override { return _inputSize; }
  UnitBufferSize unitGetOutputSize() const override { return _outputSize; }
  // A bare unit does nothing, so asking what it does is a programming error.
  uint64_t unitFunction() const override;

  UnitBufferSize inputSize() const { return _inputSize; }
  UnitBufferSize outputSize() const { return _outputSize; }
  const std::string& name() const { return _name; }
  void setName(std::string name) { _name = std::move(name); }

 protected:
  UnitBufferSize _inputSize;
  UnitBufferSize _outputSize;
  std::string _name;
};

}  // namespace qv
