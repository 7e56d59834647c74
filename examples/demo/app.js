// Selects the section named by the "show" query parameter (the archive's .start entry
// puts it there) and lists the start query's parameters.
(function () {
  "use strict";
  var params = new URLSearchParams(window.location.search);
  var sections = Array.prototype.slice.call(document.querySelectorAll("main .panel"));
  var tabs = Array.prototype.slice.call(document.querySelectorAll(".tabs a"));

  function select(name) {
    var known = sections.some(function (s) { return s.id === name; });
    if (!known) name = sections.length ? sections[0].id : "";
    sections.forEach(function (s) { s.classList.toggle("selected", s.id === name); });
    tabs.forEach(function (t) {
      var on = t.getAttribute("data-section") === name;
      t.classList.toggle("selected", on);
      if (on) t.setAttribute("aria-current", "page"); else t.removeAttribute("aria-current");
    });
    document.body.setAttribute("data-shown", name);
  }

  tabs.forEach(function (t) {
    t.addEventListener("click", function (event) {
      event.preventDefault();
      var name = t.getAttribute("data-section");
      params.set("show", name);
      history.replaceState(null, "", "?" + params.toString());
      select(name);
    });
  });

  var body = document.querySelector("#params tbody");
  var any = false;
  params.forEach(function (value, key) {
    var row = document.createElement("tr");
    var k = document.createElement("td");
    var v = document.createElement("td");
    k.textContent = key;
    v.textContent = value;
    row.appendChild(k);
    row.appendChild(v);
    body.appendChild(row);
    any = true;
  });
  if (!any) {
    var row = document.createElement("tr");
    row.innerHTML = '<td colspan="2">(no parameters)</td>';
    body.appendChild(row);
  }

  document.getElementById("where").textContent = window.location.host;
  select(params.get("show"));
})();
