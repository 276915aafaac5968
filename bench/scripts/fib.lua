-- Recursive calls: fib(27), repeated so the run is long enough to time.
local function fibr(n)
  if n < 2 then return n end
  return fibr(n - 1) + fibr(n - 2)
end

local function fibs(rounds)
  local total = 0
  for r = 1, rounds do
    total = total + fibr(27)
  end
  return total
end

print(fibs(40))
