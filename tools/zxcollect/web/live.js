// zxcollect's live page: reads the run's event stream (/events) and draws one chart per
// mapped name, a min/max envelope per box/channel/measurement channel, plus the tables.
"use strict";
(function () {
  const colors = ["#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#17becf"];
  const $ = (id) => document.getElementById(id);
  let meta = null;
  let source = null;
  let paused = false;
  let charts = new Map(); // name -> {name, element, plot, xs, lines: Map(key -> {label, min, max}), rebuild}
  let ticks = 0;

  const windowSeconds = () => Number($("window").value);
  const selectedDevice = () => Number($("device").value);
  const channelShown = (channel) => $("channel").value === "all" || Number($("channel").value) === channel;
  const severalDevices = () => new Set(meta.slots.map((s) => s[0])).size > 1;
  const hex = (id) => "0x" + id.toString(16).toUpperCase();
  const show = (value) => (value === null ? "no value" : String(value));

  function chartOf(name) {
    let chart = charts.get(name);
    if (!chart) {
      const element = document.createElement("div");
      element.className = "chart";
      element.dataset.name = name;
      element.innerHTML = "<h3></h3>";
      element.firstChild.textContent = name;
      $("charts").appendChild(element);
      chart = { name, element, plot: null, xs: [], lines: new Map(), rebuild: true };
      charts.set(name, chart);
    }
    return chart;
  }

  function onTick(tick) {
    ticks++;
    const touched = new Map();
    for (const [slot, canId, k, min, max] of tick.p) {
      const name = meta.names[canId];
      const [device, channel] = meta.slots[slot];
      if (name === undefined || !channelShown(channel)) continue;
      const chart = chartOf(name);
      const key = slot + "/" + k;
      let line = chart.lines.get(key);
      if (!line) {
        const label = (severalDevices() ? "DEV" + device + " " : "") + "CAN" + channel + " CH" + (k + 1);
        line = { label, min: chart.xs.map(() => null), max: chart.xs.map(() => null) };
        chart.lines.set(key, line);
        chart.rebuild = true;
      }
      if (!touched.has(chart)) touched.set(chart, new Map());
      touched.get(chart).set(key, [min, max]);
    }
    const oldest = tick.t - windowSeconds();
    for (const chart of charts.values()) {
      const points = touched.get(chart);
      if (points) {
        chart.xs.push(tick.t);
        for (const [key, line] of chart.lines) {
          const point = points.get(key);
          line.min.push(point ? point[0] : null);
          line.max.push(point ? point[1] : null);
        }
      }
      let drop = 0;
      while (drop < chart.xs.length && chart.xs[drop] < oldest) drop++;
      if (drop > 0) {
        chart.xs.splice(0, drop);
        for (const line of chart.lines.values()) {
          line.min.splice(0, drop);
          line.max.splice(0, drop);
        }
      }
    }
    if (!paused) draw();
  }

  function dataOf(chart) {
    const data = [chart.xs.slice()];
    for (const line of chart.lines.values()) data.push(line.max.slice(), line.min.slice());
    return data;
  }

  function draw() {
    const width = Math.max(360, Math.min(900, ($("charts").clientWidth - 60) / Math.min(2, charts.size || 1)));
    for (const chart of charts.values()) {
      if (chart.rebuild || !chart.plot) {
        if (chart.plot) chart.plot.destroy();
        const series = [{}];
        const bands = [];
        let i = 0;
        for (const line of chart.lines.values()) {
          const color = colors[i % colors.length];
          series.push({ label: line.label, stroke: color, width: 1, spanGaps: true });
          series.push({ label: "min", stroke: color, width: 1, spanGaps: true });
          bands.push({ series: [series.length - 2, series.length - 1], fill: color + "33" });
          i++;
        }
        chart.plot = new uPlot(
          { width, height: 240, series, bands, legend: { show: chart.lines.size <= 16, live: false }, scales: { x: { time: true } } },
          dataOf(chart),
          chart.element
        );
        chart.rebuild = false;
      } else {
        chart.plot.setData(dataOf(chart));
      }
    }
  }

  function onStatus(status) {
    $("elapsed").textContent = status.elapsed.toFixed(1);
    const channels = $("channels").tBodies[0];
    channels.replaceChildren();
    for (const [slot, records, saved] of status.channels) {
      const [device, channel] = meta.slots[slot];
      const row = channels.insertRow();
      for (const text of [device, channel, records, meta.saving ? "saving" : "not saving", saved]) {
        row.insertCell().textContent = text;
      }
    }
    const losses =
      status.losses === null
        ? "Link losses: in the library's log (run with --log to see them here)"
        : "Link losses: " + (status.losses || "none reported");
    const unshown =
      status.unshownIdentifiers > 0 ? "; " + status.unshownIdentifiers + " records of identifiers beyond the table's room" : "";
    $("losses").textContent = losses + unshown;
    const latest = $("latest").tBodies[0];
    latest.replaceChildren();
    for (const [slot, canId, records, rate, values, time] of status.rows) {
      const [device, channel] = meta.slots[slot];
      if (!channelShown(channel)) continue;
      const row = latest.insertRow();
      row.dataset.device = device;
      row.dataset.channel = channel;
      row.dataset.id = canId;
      const cells = [device, channel, hex(canId), meta.names[canId] || "(not mapped)"];
      cells.push(...values.map(show), rate.toFixed(1), records, time);
      cells.forEach((text, i) => {
        const cell = row.insertCell();
        cell.textContent = text;
        if (i === 3) cell.className = "name";
        if (i >= 4 && i < 10) cell.className = "v" + (i - 3);
      });
    }
  }

  function reset() {
    for (const chart of charts.values()) if (chart.plot) chart.plot.destroy();
    charts = new Map();
    $("charts").replaceChildren();
  }

  function connect() {
    if (source) source.close();
    reset();
    const device = $("device").value;
    source = new EventSource("/events" + (device === "" ? "" : "?device=" + device));
    source.onopen = () => setState(paused ? "paused" : "live");
    source.onerror = () => setState("closed");
    source.addEventListener("meta", (event) => {
      meta = JSON.parse(event.data);
      fillSelectors();
    });
    source.addEventListener("tick", (event) => onTick(JSON.parse(event.data)));
    source.addEventListener("status", (event) => onStatus(JSON.parse(event.data)));
  }

  function fillSelectors() {
    const devices = [...new Set(meta.slots.map((s) => s[0]))];
    const select = $("device");
    if (select.options.length === 0) {
      for (const device of devices) select.add(new Option(String(device), String(device)));
      // A stream of one box keeps the full plan's page fast; switch to the first.
      if (devices.length > 1) connect();
    }
    const channels = $("channel");
    const wanted = ["all", ...new Set(meta.slots.filter((s) => s[0] === selectedDevice()).map((s) => String(s[1])))];
    if ([...channels.options].map((o) => o.value).join() !== wanted.join()) {
      channels.replaceChildren(...wanted.map((v) => new Option(v, v)));
    }
  }

  function setState(text) {
    $("state").textContent = text;
    $("state").className = text;
  }

  $("device").addEventListener("change", connect);
  $("channel").addEventListener("change", () => {
    reset();
  });
  $("window").addEventListener("change", () => draw());
  $("pause").addEventListener("click", () => {
    paused = !paused;
    $("pause").textContent = paused ? "Resume" : "Pause";
    setState(paused ? "paused" : "live");
    if (!paused) draw();
  });

  // For tests: what the charts hold, read-only.
  window.zxLive = Object.freeze({
    points: () => {
      let total = 0;
      for (const chart of charts.values()) {
        if (!chart.plot) continue;
        for (let i = 1; i < chart.plot.data.length; i += 2) total += chart.plot.data[i].filter((v) => v !== null).length;
      }
      return total;
    },
    charts: () => [...charts.keys()],
    ticks: () => ticks,
    paused: () => paused,
  });

  connect();
})();
