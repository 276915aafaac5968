-- Field reads and writes on an object from outside it.
local Point = {}
Point.__index = Point

function Point.new(x0, y0)
  return setmetatable({x = x0, y = y0, z = 0}, Point)
end

local function fields(p, n)
  for i = 0, n - 1 do
    p.x = p.x + 1
    p.y = (p.y + p.x) % 1000003
    p.z = (p.z + p.y + i % 7) % 1000003
  end
end

local function fieldsMain(n)
  local p = Point.new(0, 0)
  fields(p, n)
  print(p.x)
  print(p.y)
  print(p.z)
end

fieldsMain(10000000)
