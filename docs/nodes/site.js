// Switches the tabs of a drawn panel; with #check in the address, also writes
// into the page what the browser test reads back: images that did not load,
// and text wider than its box.
document.querySelectorAll('.xp-tab').forEach(function (tab) {
  tab.addEventListener('click', function () {
    var svg = tab.ownerSVGElement, set = tab.dataset.tabs, page = tab.dataset.page;
    svg.querySelectorAll('.xp-page[data-tabs="' + set + '"]').forEach(function (g) {
      g.style.display = g.dataset.page === page ? '' : 'none';
    });
    svg.querySelectorAll('.xp-tab[data-tabs="' + set + '"]').forEach(function (t) {
      t.classList.toggle('xp-on', t === tab);
    });
  });
});
if (location.hash === '#check') {
  window.addEventListener('load', function () {
    var faults = [];
    document.querySelectorAll('img').forEach(function (img) {
      if (!img.complete || img.naturalWidth === 0) faults.push('image did not load: ' + img.getAttribute('src'));
    });
    // Each tab shows its own page and hides the others of its set.
    document.querySelectorAll('.xp-tab').forEach(function (tab) {
      tab.dispatchEvent(new MouseEvent('click'));
      tab.ownerSVGElement.querySelectorAll('.xp-page[data-tabs="' + tab.dataset.tabs + '"]').forEach(function (g) {
        if ((g.style.display !== 'none') !== (g.dataset.page === tab.dataset.page))
          faults.push('tab ' + tab.textContent + ' leaves page ' + g.dataset.page + (g.style.display === 'none' ? ' hidden' : ' shown'));
      });
    });
    document.querySelectorAll('.xp-tab[data-page="0"]').forEach(function (tab) { tab.dispatchEvent(new MouseEvent('click')); });
    // Text of every tab page is measured: show each page while measuring.
    document.querySelectorAll('.xp-page').forEach(function (g) { g.dataset.was = g.style.display; g.style.display = ''; });
    document.querySelectorAll('text[data-fit]').forEach(function (t) {
      var fit = parseFloat(t.dataset.fit), w = t.getComputedTextLength();
      if (w > fit + 0.5) faults.push('panel text "' + t.textContent + '" is ' + w.toFixed(1) + ' px wide in a ' + fit + ' px box');
    });
    document.querySelectorAll('.xp-page').forEach(function (g) { g.style.display = g.dataset.was; delete g.dataset.was; });
    document.querySelectorAll('body *').forEach(function (el) {
      if (el.closest('svg') || el.clientWidth === 0) return;
      if (el.scrollWidth > el.clientWidth + 1)
        faults.push('text overflows its box: <' + el.tagName.toLowerCase() + '> "' + el.textContent.slice(0, 40) + '" (' + el.scrollWidth + ' > ' + el.clientWidth + ')');
    });
    if (document.documentElement.scrollWidth > window.innerWidth)
      faults.push('the page is wider than the window: ' + document.documentElement.scrollWidth + ' px');
    var svgImages = document.querySelectorAll('svg image'), pending = svgImages.length;
    function report() {
      var out = document.createElement('pre');
      out.id = 'check-result';
      out.dataset.height = document.documentElement.scrollHeight;
      out.textContent = faults.length ? faults.join('\n') : 'ok';
      document.body.appendChild(out);
    }
    if (!pending) return report();
    svgImages.forEach(function (im) {
      var probe = new Image();
      probe.onload = function () { if (--pending === 0) report(); };
      probe.onerror = function () { faults.push('image did not load: ' + im.getAttribute('href')); if (--pending === 0) report(); };
      probe.src = im.getAttribute('href');
    });
  });
}
