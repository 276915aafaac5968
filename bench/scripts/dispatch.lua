-- Dynamic method calls: objects of two classes take turns at one call site.
local Circle = {}
Circle.__index = Circle

function Circle.new(r0)
  return setmetatable({r = r0}, Circle)
end

function Circle:area(k)
  return (self.r * k) % 1009
end

local Square = {}
Square.__index = Square

function Square.new(side0)
  return setmetatable({side = side0}, Square)
end

function Square:area(k)
  return (self.side + k) % 1013
end

local function dispatch(n)
  local a, b = Circle.new(3), Square.new(5)
  local t = 0
  for i = 0, n - 1 do
    local s
    if i % 2 == 0 then s = a else s = b end
    t = (t + s:area(i)) % 1000003
  end
  return t
end

print(dispatch(10000000))
