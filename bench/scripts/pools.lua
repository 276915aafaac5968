-- Creating and dropping a million objects, four times: each one is garbage by the next
-- iteration.
local Cell = {}
Cell.__index = Cell

function Cell.new(n)
  return setmetatable({v = n % 1000}, Cell)
end

local function pools(n, rounds)
  local s = 0
  for r = 1, rounds do
    for i = 0, n - 1 do
      local c = Cell.new(i)
      s = (s + c.v) % 1000003
    end
  end
  return s
end

print(pools(1000000, 4))
